package kel;

/**
 * A call of the library failed. Carries the library's message as it gave it, and what a program
 * can act on: the message's symbolic code and its meaning in English.
 */
public class KelException extends RuntimeException {
  private static final long serialVersionUID = 1L;

  private final String function;
  private final byte[] rawMessage;
  private final String code;
  private final String meaning;

  public KelException(String function, byte[] rawMessage) {
    super(describe(function, rawMessage));
    this.function = function;
    this.rawMessage = rawMessage.clone();
    String[] known = KelMessages.lookup(rawMessage);
    this.code = known == null ? null : known[0];
    this.meaning = known == null ? null : known[1];
  }

  private static String describe(String function, byte[] rawMessage) {
    String text = rawMessage.length == 0 ? "no reason given" : KelText.decode(rawMessage);
    String[] known = KelMessages.lookup(rawMessage);
    if (known != null)
      text += " (" + known[0] + ": " + known[1] + ")";
    return function + " failed: " + text;
  }

  /** The export that failed ("Kel_VerifySeal"). */
  public String function() {
    return function;
  }

  /**
   * The message's name in kel/kel_messages.h ("KEL_MSG_SERVER_UNREACHABLE"), or null for a text
   * that is none of the library's messages.
   */
  public String code() {
    return code;
  }

  /** The message's meaning in English ("the server cannot be reached"), or null. */
  public String meaning() {
    return meaning;
  }

  /** The library's message, decoded from GBK (compare with the texts of kel_messages.h). */
  public String libraryMessage() {
    return KelText.decode(rawMessage);
  }

  /** The same message as the GBK bytes the library gave. */
  public byte[] rawMessage() {
    return rawMessage.clone();
  }
}
