package kel;

import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetEncoder;
import java.nio.charset.CodingErrorAction;

/** The library's texts: GBK (code page 936) bytes, whatever the JVM's default character set. */
public final class KelText {
  private KelText() {}

  private static final Charset GBK = Charset.forName("GBK");

  /**
   * A text as the zero-terminated GBK bytes the library reads (null: the empty text). A character
   * that GBK has not got, or a zero character (which would cut the text short, so that another
   * seal or content would be sent), throws IllegalArgumentException naming {@code parameter}.
   */
  public static byte[] encode(String text, String parameter) {
    if (text == null)
      text = "";
    if (text.indexOf('\0') >= 0) {
      throw new IllegalArgumentException(
          parameter + " holds a zero character, which would cut the text short");
    }
    // An encoder of its own per call: encoders keep state and are not shared between threads.
    CharsetEncoder encoder = GBK.newEncoder()
                                 .onMalformedInput(CodingErrorAction.REPORT)
                                 .onUnmappableCharacter(CodingErrorAction.REPORT);
    ByteBuffer bytes;
    try {
      bytes = encoder.encode(CharBuffer.wrap(text));
    } catch (CharacterCodingException error) {
      throw new IllegalArgumentException(
          parameter + " holds a character that GBK has not got", error);
    }
    byte[] terminated = new byte[bytes.remaining() + 1];
    bytes.get(terminated, 0, terminated.length - 1);
    return terminated;
  }

  /** GBK bytes as a text; bytes that are no GBK character become U+FFFD. */
  public static String decode(byte[] bytes) {
    return new String(bytes, GBK);
  }
}
