package kel;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import com.sun.jna.ptr.IntByReference;
import com.sun.jna.ptr.PointerByReference;
import com.sun.jna.win32.StdCallLibrary;

/**
 * The fourteen exports of the library, bound with JNA, and the rules for calling them directly.
 *
 * <p>Texts are passed as zero-terminated byte arrays (see {@link KelText}) and returned buffers as
 * {@link Pointer}s, so that JNA neither converts a text in the platform's character set nor frees
 * a buffer with another C runtime: {@link #take} copies a buffer and releases it with
 * Kel_ReleaseBuf.
 *
 * <p>The library keeps one last-error text per process, not per thread. Code that calls {@link
 * #library()} directly must hold {@link #CALL_LOCK} from its call to its read of Kel_GetLastErr,
 * as every method of {@link KelClient} does.
 */
public final class KelNative {
  private KelNative() {}

  /** Held by every call together with its read of the last-error text. */
  public static final Object CALL_LOCK = new Object();

  /** The exports with the C calling convention: Linux, and 64-bit Windows. */
  public interface Exports extends Library {
    int Kel_ReleaseBuf(Pointer buffer);

    Pointer Kel_GetLastErr();

    int Kel_SendSealRecord(
        byte[] userName, byte[] sealId, byte[] remark, byte[] url, PointerByReference result);

    int Kel_VerifySeal(
        byte[] url, byte[] name, byte[] id, byte[] time, int typeFlag, IntByReference status);

    int Kel_GetServerTime(
        PointerByReference time, PointerByReference signature, byte[] content, byte[] url);

    int Kel_VerifyTimeStamp(byte[] content, byte[] time, byte[] signature);

    void Kel_to64frombits(byte[] text, byte[] bytes, int count);

    int Kel_from64tobits(byte[] bytes, byte[] text, int limit);

    int Kel_GetCiphertext(byte[] text, PointerByReference copy);

    /** {@code count} is an unsigned int in C. */
    int Kel_BinToHex(byte[] bytes, byte[] hex, int count);

    /** {@code count} is an unsigned int in C. */
    int Kel_HexToBin(byte[] bytes, byte[] hex, int count);

    Pointer Kel_GetRadomString();

    Pointer Kel_AESEncryption(
        byte[] data, int dataLength, byte[] key, int keyLength, IntByReference resultLength);

    Pointer Kel_AESDecryption(
        byte[] data, int dataLength, byte[] key, int keyLength, IntByReference resultLength);
  }

  /**
   * The same exports as 32-bit Kel.dll has them: __stdcall, exported under their undecorated
   * names (no function mapper, so JNA looks them up as they are written).
   */
  public interface StdcallExports extends Exports, StdCallLibrary {}

  private static Exports library;
  private static String libraryName;

  /** The file asked for when neither {@link #load} nor KEL_LIBRARY names one. */
  static String defaultLibraryName() {
    // The runtime file, not the development link libkel.so, which JNA would look for as "kel".
    return Platform.isWindows() ? "Kel" : "libkel.so.1";
  }

  /**
   * Loads the library from {@code path} (a file, or a name for the system's loader), else from
   * the environment variable KEL_LIBRARY, else as Kel.dll or libkel.so.1 (on JNA's search path,
   * jna.library.path, and the system's loader path). The library reads its server key pubkey.key
   * when it is loaded: from its own folder, else the current one. Calls load it on first use when
   * this was not called. A process loads the library once: another path afterwards throws
   * IllegalStateException.
   */
  public static Exports load(String path) {
    synchronized (CALL_LOCK) {
      if (library == null) {
        String name = path;
        if (name == null || name.isEmpty())
          name = System.getenv("KEL_LIBRARY");
        if (name == null || name.isEmpty())
          name = defaultLibraryName();
        library = open(name);
        libraryName = name;
      } else if (path != null && !path.equals(libraryName)) {
        throw new IllegalStateException(
            "the library is loaded already, from " + libraryName + "; " + path + " is not loaded");
      }
      return library;
    }
  }

  private static Exports open(String name) {
    try {
      // 32-bit Kel.dll exports __stdcall functions; everywhere else the C convention holds (on
      // 64-bit Windows there is one convention only).
      if (Platform.isWindows() && !Platform.is64Bit()) {
        return Native.load(name, StdcallExports.class);
      }
      return Native.load(name, Exports.class);
    } catch (UnsatisfiedLinkError error) {
      UnsatisfiedLinkError described =
          new UnsatisfiedLinkError("cannot load " + name + " (" + error.getMessage()
              + "): set KEL_LIBRARY to the library's file, or call KelNative.load(path)"
              + " before any other call");
      described.initCause(error);
      throw described;
    }
  }

  /** The loaded library (loaded now, when no call loaded it yet). */
  public static Exports library() {
    synchronized (CALL_LOCK) {
      return library != null ? library : load(null);
    }
  }

  /**
   * Copies the zero-terminated text of a buffer the library handed out and releases it; an empty
   * array for null.
   */
  public static byte[] take(Pointer buffer) {
    if (buffer == null)
      return new byte[0];
    try {
      return buffer.getByteArray(0, (int) buffer.indexOf(0, (byte) 0));
    } finally {
      library().Kel_ReleaseBuf(buffer);
    }
  }

  /** The last-error text (hold CALL_LOCK from the call that set it). */
  public static byte[] lastError() {
    return take(library().Kel_GetLastErr());
  }

  /** Empties the last-error text: Kel_BinToHex with a count of 0 writes nothing. */
  static void clearLastError() {
    library().Kel_BinToHex(new byte[1], new byte[1], 0);
  }
}
