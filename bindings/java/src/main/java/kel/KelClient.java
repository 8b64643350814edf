package kel;

import com.sun.jna.Pointer;
import com.sun.jna.ptr.IntByReference;
import com.sun.jna.ptr.PointerByReference;
import java.util.Arrays;

/**
 * The server transactions against one seal server, and the library's local helpers.
 *
 * <pre>
 *   KelClient client = new KelClient("http://127.0.0.1:8080/");
 *   SealVerdict verdict = client.verifySeal("Acme Ltd", "S-1");
 *   if (verdict.isValid()) ...
 * </pre>
 *
 * <p>Texts go to the library as GBK and come back from GBK. Every buffer the library hands out is
 * copied and released with Kel_ReleaseBuf. Every call holds {@link KelNative#CALL_LOCK} together
 * with its read of the last-error text, which the library keeps once per process. Failures throw
 * {@link KelException}; a text that cannot be sent as it is throws IllegalArgumentException before
 * anything is sent.
 */
public final class KelClient {
  /** What Kel_GetCiphertext answers for an empty text. */
  private static final int EMPTY_TEXT = 0x00FFFFFE;
  /** The longest array a JVM is sure to allocate. */
  private static final long MAX_ARRAY = Integer.MAX_VALUE - 8;

  private final String url;
  private final byte[] urlBytes;

  public KelClient(String url) {
    if (url == null)
      throw new NullPointerException("url");
    this.url = url;
    this.urlBytes = KelText.encode(url, "url");
  }

  public String url() {
    return url;
  }

  /** {@link #verifySeal(String, String, String, boolean)} at the local time, type 0. */
  public SealVerdict verifySeal(String name, String sealId) {
    return verifySeal(name, sealId, null, true);
  }

  /**
   * Asks the server whether the seal {@code sealId} of {@code name} is valid; {@code time} is
   * sent as given (null: the local time), {@code typeZero} sends type 0, else type 1. A verdict
   * of "not valid" is a verdict too: check {@link SealVerdict#isValid}. Throws KelException when
   * no verdict could be read.
   */
  public SealVerdict verifySeal(String name, String sealId, String time, boolean typeZero) {
    byte[] nameBytes = KelText.encode(name, "name");
    byte[] idBytes = KelText.encode(sealId, "sealId");
    byte[] timeBytes = KelText.encode(time != null ? time : localTime(), "time");
    synchronized (KelNative.CALL_LOCK) {
      IntByReference status = new IntByReference(1);
      int result = KelNative.library().Kel_VerifySeal(
          urlBytes, nameBytes, idBytes, timeBytes, typeZero ? 1 : 0, status);
      // After a verdict the last error holds the server's description of it.
      byte[] text = KelNative.lastError();
      if (result != 0)
        throw new KelException("Kel_VerifySeal", text);
      return new SealVerdict(status.getValue(), KelText.decode(text));
    }
  }

  /** {@link #sendSealRecord(String, String, String)} with an empty remark. */
  public String sendSealRecord(String userName, String sealId) {
    return sendSealRecord(userName, sealId, "");
  }

  /** Reports one use of a seal; returns the server's result text ("0,0,recorded"). */
  public String sendSealRecord(String userName, String sealId, String remark) {
    byte[] user = KelText.encode(userName, "userName");
    byte[] seal = KelText.encode(sealId, "sealId");
    byte[] remarkBytes = KelText.encode(remark, "remark");
    synchronized (KelNative.CALL_LOCK) {
      PointerByReference buffer = new PointerByReference();
      if (KelNative.library().Kel_SendSealRecord(user, seal, remarkBytes, urlBytes, buffer) != 0) {
        throw new KelException("Kel_SendSealRecord", KelNative.lastError());
      }
      return KelText.decode(KelNative.take(buffer.getValue()));
    }
  }

  /** Obtains a time signed by the server over {@code content}. */
  public ServerTime getServerTime(String content) {
    byte[] contentBytes = KelText.encode(content, "content");
    synchronized (KelNative.CALL_LOCK) {
      PointerByReference time = new PointerByReference();
      PointerByReference signature = new PointerByReference();
      int result = KelNative.library().Kel_GetServerTime(time, signature, contentBytes, urlBytes);
      // On some failures both buffers were handed out all the same.
      byte[] timeText = KelNative.take(time.getValue());
      byte[] signatureText = KelNative.take(signature.getValue());
      if (result != 0)
        throw new KelException("Kel_GetServerTime", KelNative.lastError());
      return new ServerTime(KelText.decode(timeText), KelText.decode(signatureText));
    }
  }

  /**
   * Checks locally that {@code signature} is the server's over {@code content} followed by {@code
   * time}, against the library's pubkey.key. True when it verifies, false when it does not; throws
   * KelException when it cannot be checked (no pubkey.key, for one).
   */
  public static boolean verifyTimeStamp(String content, String time, String signature) {
    byte[] contentBytes = KelText.encode(content, "content");
    byte[] timeBytes = KelText.encode(time, "time");
    byte[] signatureBytes = KelText.encode(signature, "signature");
    byte[] reason;
    synchronized (KelNative.CALL_LOCK) {
      // Kel_VerifyTimeStamp keeps an earlier message: empty it first, so that the reason read
      // below is this call's.
      KelNative.clearLastError();
      if (KelNative.library().Kel_VerifyTimeStamp(contentBytes, timeBytes, signatureBytes) == 0) {
        return true;
      }
      reason = KelNative.lastError();
    }
    String[] known = KelMessages.lookup(reason);
    if (known != null && known[0].equals("KEL_MSG_TIMESTAMP_INVALID"))
      return false;
    throw new KelException("Kel_VerifyTimeStamp", reason);
  }

  /** The local clock's time as the library formats it (YYYY-MM-DD hh:mm:ss). */
  public static String localTime() {
    synchronized (KelNative.CALL_LOCK) {
      PointerByReference time = new PointerByReference();
      int result = KelNative.library().Kel_GetServerTime(time, null, null, null);
      byte[] text = KelNative.take(time.getValue());
      if (result != 0)
        throw new KelException("Kel_GetServerTime", KelNative.lastError());
      return KelText.decode(text);
    }
  }

  /** A fresh random string of 16 letters and digits. */
  public static String randomString() {
    synchronized (KelNative.CALL_LOCK) {
      Pointer text = KelNative.library().Kel_GetRadomString();
      if (text == null)
        throw new KelException("Kel_GetRadomString", KelNative.lastError());
      return KelText.decode(KelNative.take(text));
    }
  }

  /** Encrypts {@code data} under a key of 16, 24 or 32 bytes. */
  public static byte[] aesEncrypt(byte[] data, byte[] key) {
    return aes(true, data, key);
  }

  /**
   * Decrypts what {@link #aesEncrypt} produced under the same key (an empty plaintext is refused
   * by the library as a failure).
   */
  public static byte[] aesDecrypt(byte[] data, byte[] key) {
    return aes(false, data, key);
  }

  private static byte[] aes(boolean encrypt, byte[] data, byte[] key) {
    if (data == null)
      throw new NullPointerException("data");
    if (key == null)
      throw new NullPointerException("key");
    String function = encrypt ? "Kel_AESEncryption" : "Kel_AESDecryption";
    synchronized (KelNative.CALL_LOCK) {
      IntByReference length = new IntByReference(0);
      KelNative.Exports library = KelNative.library();
      byte[] input = nonEmpty(data);
      byte[] keyBytes = nonEmpty(key);
      Pointer result = encrypt
          ? library.Kel_AESEncryption(input, data.length, keyBytes, key.length, length)
          : library.Kel_AESDecryption(input, data.length, keyBytes, key.length, length);
      if (result == null)
        throw new KelException(function, KelNative.lastError());
      try {
        if (length.getValue() < 0)
          throw new KelException(function, new byte[0]);
        return result.getByteArray(0, length.getValue());
      } finally {
        library.Kel_ReleaseBuf(result);
      }
    }
  }

  /** The standard, padded base64 text of {@code data}, as the library writes it. */
  public static String toBase64(byte[] data) {
    if (data == null)
      throw new NullPointerException("data");
    long room = 4L * ((data.length + 2L) / 3) + 1;
    if (room > MAX_ARRAY)
      throw new IllegalArgumentException("data is too long for base64 text");
    byte[] text = new byte[(int) room];
    synchronized (KelNative.CALL_LOCK) {
      KelNative.library().Kel_to64frombits(text, nonEmpty(data), data.length);
    }
    return KelText.decode(Arrays.copyOf(text, text.length - 1));
  }

  /**
   * The bytes of a base64 text, as the library decodes it: a leading "+ " is skipped, decoding
   * ends after a group with '=' or at a carriage return after a group (a text that starts with a
   * carriage return gives no bytes). A text the library does not take (empty, a character outside
   * the alphabet, a line feed or space, a group cut short) throws IllegalArgumentException.
   */
  public static byte[] fromBase64(String text) {
    byte[] textBytes = KelText.encode(text, "text");
    // Every four characters give at most three bytes; the limit keeps the library inside the
    // buffer whatever the text holds (a limit of 0 would mean none, so it is at least 1).
    byte[] bytes = new byte[Math.max(1, 3 * ((textBytes.length - 1) / 4))];
    int count;
    synchronized (KelNative.CALL_LOCK) {
      count = KelNative.library().Kel_from64tobits(bytes, textBytes, bytes.length);
    }
    if (count < 0)
      throw new IllegalArgumentException("text is not base64 the library takes");
    return Arrays.copyOf(bytes, count);
  }

  /** The lowercase hex digits of {@code data}, two per byte. */
  public static String toHex(byte[] data) {
    if (data == null)
      throw new NullPointerException("data");
    if (2L * data.length + 1 > MAX_ARRAY)
      throw new IllegalArgumentException("data is too long");
    byte[] hex = new byte[2 * data.length + 1];
    synchronized (KelNative.CALL_LOCK) {
      KelNative.library().Kel_BinToHex(nonEmpty(data), hex, data.length);
    }
    return KelText.decode(Arrays.copyOf(hex, 2 * data.length));
  }

  /**
   * The bytes of a hex text, a byte per two characters (an odd last character is ignored). The
   * library converts each pair as strtol does and never fails: a pair that is not two hex digits
   * gives some byte ("G1" gives 0, "1G" gives 1), so validate a text that comes from outside.
   */
  public static byte[] fromHex(String hex) {
    byte[] hexBytes = KelText.encode(hex, "hex");
    int count = hexBytes.length - 1;
    byte[] bytes = new byte[Math.max(1, count / 2)];
    synchronized (KelNative.CALL_LOCK) {
      KelNative.library().Kel_HexToBin(bytes, hexBytes, count);
    }
    return Arrays.copyOf(bytes, count / 2);
  }

  /** The library's copy of {@code text} (Kel_GetCiphertext), which it hands out and takes back. */
  public static String copyText(String text) {
    byte[] textBytes = KelText.encode(text, "text");
    synchronized (KelNative.CALL_LOCK) {
      PointerByReference copy = new PointerByReference();
      int result = KelNative.library().Kel_GetCiphertext(textBytes, copy);
      if (result == EMPTY_TEXT)
        return "";
      if (result != 0)
        throw new KelException("Kel_GetCiphertext", KelNative.lastError());
      return KelText.decode(KelNative.take(copy.getValue()));
    }
  }

  /** JNA is not asked to pass an array of no elements: one byte stands in; its length is 0. */
  private static byte[] nonEmpty(byte[] data) {
    return data.length == 0 ? new byte[1] : data;
  }
}
