package kel;

/** The server's verdict on a seal: status 0 means valid. */
public final class SealVerdict {
  private final int status;
  private final String description;

  public SealVerdict(int status, String description) {
    this.status = status;
    this.description = description;
  }

  /** The server's status number; 0 means valid. */
  public int status() {
    return status;
  }

  /** The server's description of its verdict ("valid seal"). */
  public String description() {
    return description;
  }

  public boolean isValid() {
    return status == 0;
  }

  @Override
  public String toString() {
    return "SealVerdict(" + status + ", " + description + ")";
  }
}
