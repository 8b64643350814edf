package kel;

/** A time signed by the server over a content text. */
public final class ServerTime {
  private final String time;
  private final String signature;

  public ServerTime(String time, String signature) {
    this.time = time;
    this.signature = signature;
  }

  /** The server's time, YYYY-MM-DD hh:mm:ss. */
  public String time() {
    return time;
  }

  /** The server's signature over the content text followed by the time. */
  public String signature() {
    return signature;
  }

  @Override
  public String toString() {
    return "ServerTime(" + time + ")";
  }
}
