// C# binding of Kel, the electronic-seal client library (Kel.dll on Windows,
// libkel.so elsewhere). Add this file to your project; it needs .NET Framework
// 4.6 or later, Mono, or .NET 6 or later (where code page 936 comes from the
// System.Text.Encoding.CodePages package, which is registered on first use).
//
//   var client = new KelClient("http://127.0.0.1:8080/");
//   SealVerdict verdict = client.VerifySeal("Acme Ltd", "S-1");
//   if (verdict.IsValid) ...
//
// Texts go to the library as GBK and come back from GBK. Every buffer the
// library hands out is copied and released with Kel_ReleaseBuf, never by the
// .NET marshaller. The library keeps one last-error text per process: every
// call here holds one process-wide lock together with its read of that text.
// Code that calls the exports directly, beside this wrapper, must take
// KelNative.CallLock too.
using System;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Text;

namespace Kel {
  /// <summary>A call of the library failed; carries the library's message, and what a
  /// program can act on: the message's symbolic code and its meaning in English.</summary>
  public class KelException : Exception {
    public KelException(string function, byte[] rawMessage)
        : base(Describe(function, rawMessage)) {
      Function = function;
      RawMessage = rawMessage;
      LibraryMessage = KelText.Decode(rawMessage);
      string code, meaning;
      if (KelMessages.Lookup(rawMessage, out code, out meaning)) {
        Code = code;
        Meaning = meaning;
      }
    }

    private static string Describe(string function, byte[] rawMessage) {
      string text = rawMessage.Length == 0 ? "no reason given" : KelText.Decode(rawMessage);
      string code, meaning;
      if (KelMessages.Lookup(rawMessage, out code, out meaning))
        text += " (" + code + ": " + meaning + ")";
      return function + " failed: " + text;
    }

    /// <summary>The export that failed.</summary>
    public string Function { get; private set; }

    /// <summary>The message's name in kel_messages.h ("KEL_MSG_SERVER_UNREACHABLE"), or null
    /// for a text that is none of the library's messages.</summary>
    public string Code { get; private set; }

    /// <summary>The message's meaning in English ("the server cannot be reached"), or null.</summary>
    public string Meaning { get; private set; }

    /// <summary>The library's message (compare with the texts of kel_messages.h).</summary>
    public string LibraryMessage { get; private set; }

    /// <summary>The same message as the GBK bytes the library gave.</summary>
    public byte[] RawMessage { get; private set; }
  }

  /// <summary>The server's verdict on a seal: status 0 means valid.</summary>
  public sealed class SealVerdict {
    public SealVerdict(int status, string description) {
      Status = status;
      Description = description;
    }

    public int Status { get; private set; }
    public string Description { get; private set; }
    public bool IsValid {
      get { return Status == 0; }
    }
  }

  /// <summary>A time signed by the server over a content text.</summary>
  public sealed class ServerTime {
    public ServerTime(string time, string signature) {
      Time = time;
      Signature = signature;
    }

    public string Time { get; private set; }
    public string Signature { get; private set; }
  }

  /// <summary>The server transactions against one seal server, and the local helpers.</summary>
  public sealed class KelClient {
    private readonly byte[] url;

    public KelClient(string url) {
      if (url == null)
        throw new ArgumentNullException("url");
      Url = url;
      this.url = KelText.Encode(url, "url");
    }

    public string Url { get; private set; }

    /// <summary>Asks the server whether the seal <paramref name="sealId"/> of
    /// <paramref name="name"/> is valid; <paramref name="time"/> is sent as given (default:
    /// the local time). Throws KelException when no verdict could be read.</summary>
    public SealVerdict VerifySeal(string name, string sealId, string time = null,
                                  bool typeZero = true) {
      byte[] nameBytes = KelText.Encode(name, "name");
      byte[] idBytes = KelText.Encode(sealId, "sealId");
      byte[] timeBytes = KelText.Encode(time ?? LocalTime(), "time");
      lock (KelNative.CallLock) {
        int status = 1;
        int result = KelNative.Kel_VerifySeal(url, nameBytes, idBytes, timeBytes, typeZero ? 1 : 0,
                                              ref status);
        byte[] text = KelNative.LastError();
        if (result != 0)
          throw new KelException("Kel_VerifySeal", text);
        return new SealVerdict(status, KelText.Decode(text));
      }
    }

    /// <summary>Reports one use of a seal; returns the server's result text.</summary>
    public string SendSealRecord(string userName, string sealId, string remark = "") {
      byte[] user = KelText.Encode(userName, "userName");
      byte[] seal = KelText.Encode(sealId, "sealId");
      byte[] remarkBytes = KelText.Encode(remark, "remark");
      lock (KelNative.CallLock) {
        IntPtr buffer = IntPtr.Zero;
        if (KelNative.Kel_SendSealRecord(user, seal, remarkBytes, url, ref buffer) != 0)
          throw new KelException("Kel_SendSealRecord", KelNative.LastError());
        return KelText.Decode(KelNative.Take(buffer));
      }
    }

    /// <summary>Obtains a time signed by the server over <paramref name="content"/>.</summary>
    public ServerTime GetServerTime(string content) {
      byte[] contentBytes = KelText.Encode(content, "content");
      lock (KelNative.CallLock) {
        IntPtr time = IntPtr.Zero, signature = IntPtr.Zero;
        int result = KelNative.Kel_GetServerTime(ref time, ref signature, contentBytes, url);
        // On some failures both buffers were handed out all the same.
        byte[] timeText = KelNative.Take(time);
        byte[] signatureText = KelNative.Take(signature);
        if (result != 0)
          throw new KelException("Kel_GetServerTime", KelNative.LastError());
        return new ServerTime(KelText.Decode(timeText), KelText.Decode(signatureText));
      }
    }

    /// <summary>Checks locally that <paramref name="signature"/> is the server's over
    /// <paramref name="content"/> followed by <paramref name="time"/>, against pubkey.key.
    /// True when it verifies, false when it does not; throws KelException when it
    /// cannot be checked (no pubkey.key, for one).</summary>
    public static bool VerifyTimeStamp(string content, string time, string signature) {
      byte[] contentBytes = KelText.Encode(content, "content");
      byte[] timeBytes = KelText.Encode(time, "time");
      byte[] signatureBytes = KelText.Encode(signature, "signature");
      byte[] reason;
      lock (KelNative.CallLock) {
        // Kel_VerifyTimeStamp keeps an earlier message: empty it first,
        // so that the reason read below is this call's.
        KelNative.Kel_BinToHex(new byte[1], new byte[1], 0);
        if (KelNative.Kel_VerifyTimeStamp(contentBytes, timeBytes, signatureBytes) == 0)
          return true;
        reason = KelNative.LastError();
      }
      string code, meaning;
      if (KelMessages.Lookup(reason, out code, out meaning) && code == "KEL_MSG_TIMESTAMP_INVALID")
        return false;
      throw new KelException("Kel_VerifyTimeStamp", reason);
    }

    /// <summary>The local clock's time as the library formats it (YYYY-MM-DD hh:mm:ss).</summary>
    public static string LocalTime() {
      lock (KelNative.CallLock) {
        IntPtr time = IntPtr.Zero, unused = IntPtr.Zero;
        int result = KelNative.Kel_GetServerTime(ref time, ref unused, null, null);
        byte[] text = KelNative.Take(time);
        if (result != 0)
          throw new KelException("Kel_GetServerTime", KelNative.LastError());
        return KelText.Decode(text);
      }
    }

    /// <summary>A fresh random string of 16 letters and digits.</summary>
    public static string RandomString() {
      lock (KelNative.CallLock) {
        IntPtr text = KelNative.Kel_GetRadomString();
        if (text == IntPtr.Zero)
          throw new KelException("Kel_GetRadomString", KelNative.LastError());
        return KelText.Decode(KelNative.Take(text));
      }
    }

    /// <summary>Encrypts <paramref name="data"/> under a key of 16, 24 or 32 bytes.</summary>
    public static byte[] AesEncrypt(byte[] data, byte[] key) {
      return Aes(true, data, key);
    }

    /// <summary>Decrypts what AesEncrypt produced under the same key.</summary>
    public static byte[] AesDecrypt(byte[] data, byte[] key) {
      return Aes(false, data, key);
    }

    private static byte[] Aes(bool encrypt, byte[] data, byte[] key) {
      if (data == null)
        throw new ArgumentNullException("data");
      if (key == null)
        throw new ArgumentNullException("key");
      string function = encrypt ? "Kel_AESEncryption" : "Kel_AESDecryption";
      lock (KelNative.CallLock) {
        int length = 0;
        IntPtr result =
            encrypt ? KelNative.Kel_AESEncryption(data, data.Length, key, key.Length, ref length)
                    : KelNative.Kel_AESDecryption(data, data.Length, key, key.Length, ref length);
        if (result == IntPtr.Zero)
          throw new KelException(function, KelNative.LastError());
        try {
          if (length < 0)
            throw new KelException(function, new byte[0]);
          byte[] bytes = new byte[length];
          Marshal.Copy(result, bytes, 0, length);
          return bytes;
        } finally {
          KelNative.Kel_ReleaseBuf(result);
        }
      }
    }
  }

  /// <summary>The library's messages, as KEL_MESSAGE_TABLE in kel/kel_messages.h lists them:
  /// their GBK bytes (in hex), symbolic names and meanings in English.</summary>
  public static class KelMessages {
    private static readonly string[,] Table = {
      {"C9FAB3C9CBE6BBFACAFDD2ECB3A3", "KEL_MSG_RANDOM_FAILED",
       "the random string could not be generated"},
      {"BCD3C3DCB3F6CFD6D2ECB3A3B4EDCEF3", "KEL_MSG_ENCRYPT_FAILED",
       "encryption failed"},
      {"BDE2C3DCB3F6CFD6D2ECB3A3", "KEL_MSG_DECRYPT_FAILED",
       "decryption failed"},
      {"CEDEB7A8C1ACBDD3B7FECEF1C6F7A3A1", "KEL_MSG_SERVER_UNREACHABLE",
       "the server cannot be reached"},
      {"B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB8F1CABDB2BBBACFB7A8", "KEL_MSG_BAD_ANSWER_FORMAT",
       "the server's answer is not in a valid format"},
      {"BDE2C3DCB7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDCAA7B0DC", "KEL_MSG_ANSWER_DECRYPT_FAILED",
       "the server's answer could not be decrypted"},
      {"D1E9D6A4B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB2BBD5FDC8B7", "KEL_MSG_ANSWER_NOT_VERIFIED",
       "the server's answer did not verify"},
      {"D1E9D6A4B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB3F6CFD6D2ECB3A3B4EDCEF3", "KEL_MSG_ANSWER_VERIFY_RAISED",
       "verifying the server's answer raised an error"},
      {"C3BBD3D0B9ABD4BFCAFDBEDDA3A1", "KEL_MSG_NO_PUBLIC_KEY",
       "no server key was loaded"},
      {"B2CECAFDB4EDCEF3", "KEL_MSG_BAD_ARGUMENT",
       "wrong argument"},
      {"C1ACBDD3B7FECEF1C6F7CAA7B0DC", "KEL_MSG_TRANSACTION_FAILED",
       "the server transaction failed"},
      {"CAB1BCE4B4C1CEDED0A7", "KEL_MSG_TIMESTAMP_INVALID",
       "the timestamp is not valid"},
      {"D1E9D6A4CAB1BCE4B4C1CAB1B3F6CFD6D2ECB3A3B4EDCEF3", "KEL_MSG_TIMESTAMP_VERIFY_RAISED",
       "verifying the timestamp raised an error"},
    };

    /// <summary>The code and meaning of a message the library gave; false for another text.</summary>
    public static bool Lookup(byte[] raw, out string code, out string meaning) {
      string hex = BitConverter.ToString(raw).Replace("-", "");
      for (int row = 0; row < Table.GetLength(0); ++row) {
        if (Table[row, 0] == hex) {
          code = Table[row, 1];
          meaning = Table[row, 2];
          return true;
        }
      }
      code = meaning = null;
      return false;
    }

    /// <summary>Every message: GBK bytes in hex, code, meaning.</summary>
    public static string[,] All() {
      return (string[,])Table.Clone();
    }
  }

  /// <summary>The library's texts: GBK (code page 936) bytes.</summary>
  public static class KelText {
    private static readonly Encoding Gbk = LoadGbk();

    private static Encoding LoadGbk() {
      try {
        return Encoding.GetEncoding(936, EncoderFallback.ExceptionFallback,
                                    DecoderFallback.ReplacementFallback);
      } catch (NotSupportedException) {
      } catch (ArgumentException) {
      }
      // .NET (Core) carries code page 936 in System.Text.Encoding.CodePages.
      Type provider =
          Type.GetType("System.Text.CodePagesEncodingProvider, System.Text.Encoding.CodePages");
      if (provider == null)
        throw new NotSupportedException(
            "code page 936 (GBK) is not available: add System.Text.Encoding.CodePages");
      Encoding.RegisterProvider(
          (EncodingProvider)provider.GetProperty("Instance").GetValue(null, null));
      return Encoding.GetEncoding(936, EncoderFallback.ExceptionFallback,
                                  DecoderFallback.ReplacementFallback);
    }

    /// <summary>A text as the zero-terminated GBK bytes the library reads (null: empty).
    /// A character that GBK has not got, or a zero character (which would cut the text
    /// short, so that another seal or content would be sent), throws ArgumentException.</summary>
    public static byte[] Encode(string text, string parameter) {
      if (text == null)
        text = "";
      if (text.IndexOf('\0') >= 0)
        throw new ArgumentException("holds a zero character, which would cut the text short",
                                    parameter);
      byte[] bytes;
      try {
        bytes = Gbk.GetBytes(text);
      } catch (EncoderFallbackException error) {
        throw new ArgumentException("holds a character that GBK has not got", parameter, error);
      }
      byte[] terminated = new byte[bytes.Length + 1];
      Buffer.BlockCopy(bytes, 0, terminated, 0, bytes.Length);
      return terminated;
    }

    public static string Decode(byte[] bytes) {
      return Gbk.GetString(bytes);
    }
  }

  /// <summary>The fourteen exports. Texts are passed as zero-terminated byte arrays and
  /// returned buffers as IntPtr, so that the marshaller neither converts nor frees them.
  /// The library is "kel": Kel.dll on Windows, libkel.so.1 elsewhere (under Mono through a
  /// mapping made before the first call; other runtimes look for libkel.so).
  /// On 32-bit Windows the exports are stdcall; CallingConvention.Winapi is stdcall there
  /// and the C convention elsewhere, as KEL_CALL in kel.h.</summary>
  public static class KelNative {
    private const string Library = "kel";
    private const CallingConvention Convention = CallingConvention.Winapi;

    // Mono looks for "kel" as libkel.so, a link that only development
    // packages have; the runtime library is libkel.so.1. This constructor
    // tells Mono so, before any export is bound (see Bound below). On
    // Windows the name is found as it is.
    static KelNative() {
      if (Type.GetType("Mono.Runtime") == null ||
          Environment.OSVersion.Platform == PlatformID.Win32NT)
        return;
      try {
        mono_dllmap_insert(IntPtr.Zero, Library, null, "libkel.so.1", null);
      } catch (EntryPointNotFoundException) {
      } catch (DllNotFoundException) {
      }
    }

    [DllImport("__Internal", CharSet = CharSet.Ansi)]
    private static extern void mono_dllmap_insert(IntPtr assembly, string dll, string func,
                                                  string targetDll, string targetFunc);

    /// <summary>Held by every call together with its read of the last-error text.</summary>
    public static readonly object CallLock = new object();

    public static int Kel_ReleaseBuf(IntPtr buffer) {
      return Bound.Kel_ReleaseBuf(buffer);
    }

    public static IntPtr Kel_GetLastErr() {
      return Bound.Kel_GetLastErr();
    }

    public static int Kel_SendSealRecord(byte[] userName, byte[] sealId, byte[] remark, byte[] url, ref IntPtr result) {
      return Bound.Kel_SendSealRecord(userName, sealId, remark, url, ref result);
    }

    public static int Kel_VerifySeal(byte[] url, byte[] name, byte[] id, byte[] time, int typeFlag, ref int status) {
      return Bound.Kel_VerifySeal(url, name, id, time, typeFlag, ref status);
    }

    public static int Kel_GetServerTime(ref IntPtr time, ref IntPtr signature, byte[] content, byte[] url) {
      return Bound.Kel_GetServerTime(ref time, ref signature, content, url);
    }

    public static int Kel_VerifyTimeStamp(byte[] content, byte[] time, byte[] signature) {
      return Bound.Kel_VerifyTimeStamp(content, time, signature);
    }

    public static void Kel_to64frombits([Out] byte[] text, byte[] bytes, int count) {
      Bound.Kel_to64frombits(text, bytes, count);
    }

    public static int Kel_from64tobits([Out] byte[] bytes, byte[] text, int limit) {
      return Bound.Kel_from64tobits(bytes, text, limit);
    }

    public static int Kel_GetCiphertext(byte[] text, ref IntPtr copy) {
      return Bound.Kel_GetCiphertext(text, ref copy);
    }

    public static int Kel_BinToHex(byte[] bytes, [Out] byte[] hex, uint count) {
      return Bound.Kel_BinToHex(bytes, hex, count);
    }

    public static int Kel_HexToBin([Out] byte[] bytes, byte[] hex, uint count) {
      return Bound.Kel_HexToBin(bytes, hex, count);
    }

    public static IntPtr Kel_GetRadomString() {
      return Bound.Kel_GetRadomString();
    }

    public static IntPtr Kel_AESEncryption(byte[] data, int dataLength, byte[] key, int keyLength, ref int resultLength) {
      return Bound.Kel_AESEncryption(data, dataLength, key, keyLength, ref resultLength);
    }

    public static IntPtr Kel_AESDecryption(byte[] data, int dataLength, byte[] key, int keyLength, ref int resultLength) {
      return Bound.Kel_AESDecryption(data, dataLength, key, keyLength, ref resultLength);
    }

    // Mono binds an export when it compiles a method that calls it: the
    // calls go through Bound, whose methods are compiled when first called,
    // after the static constructor has told Mono where the library is.
    private static class Bound {
      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_ReleaseBuf(IntPtr buffer) {
        return Exports.Kel_ReleaseBuf(buffer);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static IntPtr Kel_GetLastErr() {
        return Exports.Kel_GetLastErr();
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_SendSealRecord(byte[] userName, byte[] sealId, byte[] remark, byte[] url, ref IntPtr result) {
        return Exports.Kel_SendSealRecord(userName, sealId, remark, url, ref result);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_VerifySeal(byte[] url, byte[] name, byte[] id, byte[] time, int typeFlag, ref int status) {
        return Exports.Kel_VerifySeal(url, name, id, time, typeFlag, ref status);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_GetServerTime(ref IntPtr time, ref IntPtr signature, byte[] content, byte[] url) {
        return Exports.Kel_GetServerTime(ref time, ref signature, content, url);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_VerifyTimeStamp(byte[] content, byte[] time, byte[] signature) {
        return Exports.Kel_VerifyTimeStamp(content, time, signature);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static void Kel_to64frombits([Out] byte[] text, byte[] bytes, int count) {
        Exports.Kel_to64frombits(text, bytes, count);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_from64tobits([Out] byte[] bytes, byte[] text, int limit) {
        return Exports.Kel_from64tobits(bytes, text, limit);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_GetCiphertext(byte[] text, ref IntPtr copy) {
        return Exports.Kel_GetCiphertext(text, ref copy);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_BinToHex(byte[] bytes, [Out] byte[] hex, uint count) {
        return Exports.Kel_BinToHex(bytes, hex, count);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static int Kel_HexToBin([Out] byte[] bytes, byte[] hex, uint count) {
        return Exports.Kel_HexToBin(bytes, hex, count);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static IntPtr Kel_GetRadomString() {
        return Exports.Kel_GetRadomString();
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static IntPtr Kel_AESEncryption(byte[] data, int dataLength, byte[] key, int keyLength, ref int resultLength) {
        return Exports.Kel_AESEncryption(data, dataLength, key, keyLength, ref resultLength);
      }

      [MethodImpl(MethodImplOptions.NoInlining)]
      internal static IntPtr Kel_AESDecryption(byte[] data, int dataLength, byte[] key, int keyLength, ref int resultLength) {
        return Exports.Kel_AESDecryption(data, dataLength, key, keyLength, ref resultLength);
      }
    }

    private static class Exports {
      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_ReleaseBuf(IntPtr buffer);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern IntPtr Kel_GetLastErr();

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_SendSealRecord(byte[] userName, byte[] sealId, byte[] remark, byte[] url, ref IntPtr result);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_VerifySeal(byte[] url, byte[] name, byte[] id, byte[] time, int typeFlag, ref int status);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_GetServerTime(ref IntPtr time, ref IntPtr signature, byte[] content, byte[] url);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_VerifyTimeStamp(byte[] content, byte[] time, byte[] signature);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern void Kel_to64frombits([Out] byte[] text, byte[] bytes, int count);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_from64tobits([Out] byte[] bytes, byte[] text, int limit);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_GetCiphertext(byte[] text, ref IntPtr copy);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_BinToHex(byte[] bytes, [Out] byte[] hex, uint count);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern int Kel_HexToBin([Out] byte[] bytes, byte[] hex, uint count);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern IntPtr Kel_GetRadomString();

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern IntPtr Kel_AESEncryption(byte[] data, int dataLength, byte[] key, int keyLength, ref int resultLength);

      [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
      internal static extern IntPtr Kel_AESDecryption(byte[] data, int dataLength, byte[] key, int keyLength, ref int resultLength);
    }

    /// <summary>Copies the text of a buffer the library handed out and releases it.</summary>
    public static byte[] Take(IntPtr buffer) {
      if (buffer == IntPtr.Zero)
        return new byte[0];
      try {
        int length = 0;
        while (Marshal.ReadByte(buffer, length) != 0) ++length;
        byte[] bytes = new byte[length];
        Marshal.Copy(buffer, bytes, 0, length);
        return bytes;
      } finally {
        Kel_ReleaseBuf(buffer);
      }
    }

    /// <summary>The last-error text (hold CallLock from the call that set it).</summary>
    public static byte[] LastError() {
      return Take(Kel_GetLastErr());
    }
  }
}
