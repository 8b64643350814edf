package kel;

import java.util.Arrays;

/**
 * The library's messages as KEL_MESSAGE_TABLE in kel/kel_messages.h lists them: their GBK bytes
 * (in hex), symbolic names and meanings in English.
 */
public final class KelMessages {
  private KelMessages() {}

  private static final String[][] TABLE = {
      {"C9FAB3C9CBE6BBFACAFDD2ECB3A3", "KEL_MSG_RANDOM_FAILED",
          "the random string could not be generated"},
      {"BCD3C3DCB3F6CFD6D2ECB3A3B4EDCEF3", "KEL_MSG_ENCRYPT_FAILED", "encryption failed"},
      {"BDE2C3DCB3F6CFD6D2ECB3A3", "KEL_MSG_DECRYPT_FAILED", "decryption failed"},
      {"CEDEB7A8C1ACBDD3B7FECEF1C6F7A3A1", "KEL_MSG_SERVER_UNREACHABLE",
          "the server cannot be reached"},
      {"B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB8F1CABDB2BBBACFB7A8", "KEL_MSG_BAD_ANSWER_FORMAT",
          "the server's answer is not in a valid format"},
      {"BDE2C3DCB7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDCAA7B0DC", "KEL_MSG_ANSWER_DECRYPT_FAILED",
          "the server's answer could not be decrypted"},
      {"D1E9D6A4B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB2BBD5FDC8B7", "KEL_MSG_ANSWER_NOT_VERIFIED",
          "the server's answer did not verify"},
      {"D1E9D6A4B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB3F6CFD6D2ECB3A3B4EDCEF3",
          "KEL_MSG_ANSWER_VERIFY_RAISED", "verifying the server's answer raised an error"},
      {"C3BBD3D0B9ABD4BFCAFDBEDDA3A1", "KEL_MSG_NO_PUBLIC_KEY", "no server key was loaded"},
      {"B2CECAFDB4EDCEF3", "KEL_MSG_BAD_ARGUMENT", "wrong argument"},
      {"C1ACBDD3B7FECEF1C6F7CAA7B0DC", "KEL_MSG_TRANSACTION_FAILED",
          "the server transaction failed"},
      {"CAB1BCE4B4C1CEDED0A7", "KEL_MSG_TIMESTAMP_INVALID", "the timestamp is not valid"},
      {"D1E9D6A4CAB1BCE4B4C1CAB1B3F6CFD6D2ECB3A3B4EDCEF3", "KEL_MSG_TIMESTAMP_VERIFY_RAISED",
          "verifying the timestamp raised an error"},
  };

  /**
   * The code and meaning of a message the library gave, as {code, meaning}; null for any other
   * text.
   */
  public static String[] lookup(byte[] raw) {
    String hex = hex(raw);
    for (String[] row : TABLE) {
      if (row[0].equals(hex))
        return new String[] {row[1], row[2]};
    }
    return null;
  }

  /** Every message: {GBK bytes in hex, code, meaning}. */
  public static String[][] all() {
    String[][] copy = new String[TABLE.length][];
    for (int i = 0; i < TABLE.length; ++i) copy[i] = Arrays.copyOf(TABLE[i], 3);
    return copy;
  }

  private static String hex(byte[] bytes) {
    StringBuilder text = new StringBuilder(bytes.length * 2);
    for (byte b : bytes) text.append(String.format("%02X", b & 0xFF));
    return text.toString();
  }
}
