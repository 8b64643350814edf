// Tests of the Java binding against the built library and the reference seal
// server: KelTests URL HEADER (the server holds S-1 of "Acme Ltd" and S-8 of
// 张三 as valid seals and honours fault= in requests; HEADER is
// kel/kel_messages.h), and KelTests --without-key with a library that found
// no pubkey.key. Prints a line per case and "N passed, N failed"; exits 1 when
// a case failed.
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import kel.KelClient;
import kel.KelException;
import kel.KelMessages;
import kel.KelNative;
import kel.SealVerdict;
import kel.ServerTime;

public final class KelTests {
  // 张三, and the library's messages.
  static final String NAME = "\u5f20\u4e09";
  static final String UNREACHABLE = "\u65e0\u6cd5\u8fde\u63a5\u670d\u52a1\u5668\uff01";
  static final String DECRYPT_FAILED = "\u89e3\u5bc6\u51fa\u73b0\u5f02\u5e38";
  static final String NO_PUBLIC_KEY = "\u6ca1\u6709\u516c\u94a5\u6570\u636e\uff01";
  static final byte[] KEY = "0123456789abcdef".getBytes(StandardCharsets.US_ASCII);
  static final String TIME = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";

  static int passed;
  static int failed;

  interface Body {
    void run() throws Exception;
  }

  interface Work {
    void run(int index) throws Exception;
  }

  static void check(boolean condition, String what) {
    if (!condition)
      throw new AssertionError(what);
  }

  static <T extends Throwable> T expect(Class<T> type, Body body) throws Exception {
    try {
      body.run();
    } catch (Throwable error) {
      if (type.isInstance(error))
        return type.cast(error);
      throw new AssertionError("expected " + type.getSimpleName() + ", got " + error, error);
    }
    throw new AssertionError("expected " + type.getSimpleName());
  }

  static void test(String name, Body body) {
    try {
      body.run();
      System.out.println("[ OK ] " + name);
      ++passed;
    } catch (Throwable error) {
      System.out.println("[FAIL] " + name + ": " + error);
      ++failed;
    }
  }

  static void runThreads(int count, Work work) throws Exception {
    List<String> errors = new ArrayList<>();
    List<Thread> threads = new ArrayList<>();
    for (int i = 0; i < count; ++i) {
      final int index = i;
      Thread thread = new Thread(() -> {
        try {
          work.run(index);
        } catch (Throwable error) {
          synchronized (errors) {
            errors.add("thread " + index + ": " + error);
          }
        }
      });
      threads.add(thread);
      thread.start();
    }
    for (Thread thread : threads) thread.join();
    check(errors.isEmpty(), String.join("\n", errors));
  }

  static byte[] ascii(String text) {
    return text.getBytes(StandardCharsets.US_ASCII);
  }

  public static void main(String[] args) {
    if (args[0].equals("--without-key")) {
      withoutKey();
    } else {
      withServer(args[0], args[1]);
    }
    System.out.println(passed + " passed, " + failed + " failed");
    System.exit(failed == 0 ? 0 : 1);
  }

  // The library loaded from a folder without pubkey.key (nor one in the current folder).
  static void withoutKey() {
    test("a timestamp that cannot be checked throws", () -> {
      KelException error = expect(KelException.class,
          () -> KelClient.verifyTimeStamp("contract 7", "2024-05-06 07:08:09", "MEUCIQ=="));
      check(error.function().equals("Kel_VerifyTimeStamp"), error.function());
      check("KEL_MSG_NO_PUBLIC_KEY".equals(error.code()), "code " + error.code());
      check("no server key was loaded".equals(error.meaning()), "meaning " + error.meaning());
      check(error.libraryMessage().equals(NO_PUBLIC_KEY), error.libraryMessage());
    });
  }

  static void withServer(String url, String headerPath) {
    KelClient client = new KelClient(url);

    test("verdicts", () -> {
      Object[][] rows = {
          {"Acme Ltd", "S-1", 0, "valid seal"},
          {"Acme Ltd", "S-404", 2, "unknown seal"},
          {"Other", "S-1", 3, null},
          {NAME, "S-8", 0, "valid seal"},
      };
      for (Object[] row : rows) {
        SealVerdict verdict = client.verifySeal((String) row[0], (String) row[1]);
        check(verdict.status() == (int) row[2], row[1] + " status " + verdict.status());
        check(verdict.isValid() == ((int) row[2] == 0), row[1] + " valid");
        if (row[3] != null)
          check(row[3].equals(verdict.description()), "" + verdict);
      }
    });

    test("a failure carries the library's message", () -> {
      KelClient broken = new KelClient(url + "x?fault=empty-body");
      KelException error = expect(KelException.class, () -> broken.verifySeal("Acme Ltd", "S-1"));
      check(error.libraryMessage().equals(UNREACHABLE), error.libraryMessage());
      check(error.function().equals("Kel_VerifySeal"), error.function());
      check(error.rawMessage().length == 16, "GBK bytes: " + error.rawMessage().length);
      // What a program can act on, beside the original text.
      check("KEL_MSG_SERVER_UNREACHABLE".equals(error.code()), "code " + error.code());
      check("the server cannot be reached".equals(error.meaning()), "meaning");
      check(error.getMessage().contains("the server cannot be reached"), error.getMessage());
      expect(KelException.class, () -> broken.sendSealRecord("alice", "S-1"));
      expect(KelException.class, () -> broken.getServerTime("contract 7"));
    });

    test("every message of the header has its code and meaning", () -> {
      String header =
          new String(Files.readAllBytes(Paths.get(headerPath)), StandardCharsets.US_ASCII)
              .replace("\\\n", " ");
      Map<String, String> texts = new HashMap<>();
      Matcher define =
          Pattern.compile("#define (KEL_MSG_\\w+)\\s+((?:\"[^\"]*\"\\s*)+)").matcher(header);
      while (define.find()) {
        StringBuilder hex = new StringBuilder();
        Matcher b = Pattern.compile("\\\\x([0-9A-F]{2})").matcher(define.group(2));
        while (b.find()) hex.append(b.group(1));
        texts.put(define.group(1), hex.toString());
      }
      Matcher row = Pattern.compile("X\\(\\w+,\\s*(KEL_MSG_\\w+),\\s*\"([^\"]*)\"").matcher(header);
      String[][] table = KelMessages.all();
      int rows = 0;
      for (; row.find(); ++rows) {
        String code = row.group(1);
        check(Arrays.equals(table[rows], new String[] {texts.get(code), code, row.group(2)}), code);
      }
      check(rows == 13 && table.length == 13, "rows: " + rows);
      // Each export is declared once; every one of them runs in the cases here.
      check(KelNative.Exports.class.getDeclaredMethods().length == 14, "exports");
    });

    test("unsafe arguments are refused before the call", () -> {
      expect(IllegalArgumentException.class, () -> client.verifySeal("Acme Ltd", "S-1\0S-404"));
      expect(IllegalArgumentException.class, () -> client.verifySeal("Acme Ltd", "\ud83d\ude00"));
      // The library is loaded once: another file is not loaded beside it.
      check(KelNative.load(null) == KelNative.library(), "the loaded library");
      expect(IllegalStateException.class, () -> KelNative.load("/elsewhere/libkel.so.1"));
    });

    test("record, server time and timestamp", () -> {
      check(client.sendSealRecord("alice", "S-1", "contract 7").equals("0,0,recorded"), "record");
      ServerTime stamp = client.getServerTime("contract 7");
      check(stamp.time().matches(TIME), stamp.time());
      check(KelClient.verifyTimeStamp("contract 7", stamp.time(), stamp.signature()), "verifies");
      String tampered = stamp.time().substring(0, 18) + (stamp.time().endsWith("1") ? "2" : "1");
      check(!KelClient.verifyTimeStamp("contract 7", tampered, stamp.signature()), "tampered");
      check(!KelClient.verifyTimeStamp("contract 8", stamp.time(), stamp.signature()), "content");
      // A message left by an earlier failure does not pass for this call's: the signature
      // that does not verify is still told apart from a check that could not be made.
      expect(KelException.class, () -> KelClient.aesDecrypt(new byte[32], KEY));
      check(!KelClient.verifyTimeStamp("contract 8", stamp.time(), stamp.signature()), "after");
    });

    test("local helpers", () -> {
      check(KelClient.randomString().matches("[A-Za-z0-9]{16}"), "random");
      check(KelClient.localTime().matches(TIME), "local time");
      for (byte[] data : new byte[][] {{1, 0, 2, 0, 3}, new byte[40]}) {
        byte[] back = KelClient.aesDecrypt(KelClient.aesEncrypt(data, KEY), KEY);
        check(Arrays.equals(back, data), "AES round trip " + data.length);
      }
      check(KelClient.aesEncrypt(new byte[0], KEY).length > 0, "no bytes encrypted");
      // A ciphertext cut short always fails (under another key, the padding checks out by
      // chance about once in 256 runs).
      byte[] cipher = KelClient.aesEncrypt(new byte[] {7}, KEY);
      byte[] cut = Arrays.copyOf(cipher, cipher.length - 1);
      KelException error = expect(KelException.class, () -> KelClient.aesDecrypt(cut, KEY));
      check(error.libraryMessage().equals(DECRYPT_FAILED), error.libraryMessage());
      check("KEL_MSG_DECRYPT_FAILED".equals(error.code()), "code " + error.code());
      // The library's copy of a text, handed out and released.
      for (String text : new String[] {"contract 7", NAME, ""}) {
        check(KelClient.copyText(text).equals(text), "copy of " + text);
      }
    });

    test("base64 and hex", () -> {
      // bytes, base64, hex
      String[][] rows = {
          {"ABC", "QUJD", "414243"},
          {"AB", "QUI=", "4142"},
          {"A", "QQ==", "41"},
          {"", "", ""},
      };
      for (String[] row : rows) {
        byte[] bytes = ascii(row[0]);
        check(KelClient.toBase64(bytes).equals(row[1]), "base64 of " + row[0]);
        check(KelClient.toHex(bytes).equals(row[2]), "hex of " + row[0]);
        check(Arrays.equals(KelClient.fromHex(row[2]), bytes), "bytes of " + row[2]);
        if (!row[1].isEmpty()) {
          check(Arrays.equals(KelClient.fromBase64(row[1]), bytes), "bytes of " + row[1]);
        }
      }
      byte[] all = new byte[256];
      for (int i = 0; i < all.length; ++i) all[i] = (byte) i;
      check(Arrays.equals(KelClient.fromBase64(KelClient.toBase64(all)), all), "base64 bytes");
      check(Arrays.equals(KelClient.fromHex(KelClient.toHex(all)), all), "hex bytes");
      check(KelClient.toHex(new byte[] {0, 10, -1}).equals("000aff"), "hex digits");
      // The library's own reading of texts: a base64 text, the bytes it gives (null: refused).
      String[][] texts = {
          {"QUJD\r\n", "ABC"},
          {"+ QUJD", "ABC"},
          {"\rQUJD", ""},
          {"QQ==QUJD", "A"},
          {"", null},
          {"QUI", null},
          {"QUJD\n", null},
          {"QU D", null},
          {"QU\u4e2dD", null},
      };
      for (String[] row : texts) {
        if (row[1] == null) {
          expect(IllegalArgumentException.class, () -> KelClient.fromBase64(row[0]));
        } else {
          check(Arrays.equals(KelClient.fromBase64(row[0]), ascii(row[1])), "of " + row[0]);
        }
      }
      // Pairs as strtol reads them; an odd last character is left out.
      String[][] pairs = {{"4a", "4A"}, {"4A5", "4A"}, {"G1", "00"}, {"1G", "01"}, {"5", ""}};
      for (String[] row : pairs) {
        check(KelClient.toHex(KelClient.fromHex(row[0])).equalsIgnoreCase(row[1]), row[0]);
      }
    });

    test("buffers are released once", () -> {
      // A buffer released twice, or by another C runtime, aborts the process here.
      for (int i = 0; i < 2000; ++i) {
        KelClient.randomString();
        KelClient.copyText("contract 7");
        KelClient.aesEncrypt(KEY, KEY);
        expect(KelException.class, () -> KelClient.aesDecrypt(KEY, KEY));
      }
    });

    test("concurrent calls read their own last error", () -> {
      // Failing decryptions race calls that empty the last error: each failure must still
      // carry its own message.
      runThreads(8, index -> {
        for (int i = 0; i < 400; ++i) {
          if (index % 2 == 1) {
            KelException error =
                expect(KelException.class, () -> KelClient.aesDecrypt(new byte[32], KEY));
            check(DECRYPT_FAILED.equals(error.libraryMessage()), error.libraryMessage());
          } else {
            KelClient.fromHex("00ff");
          }
        }
      });
      // Verdicts of valid and unknown seals: each description matches its status.
      runThreads(6, index -> {
        for (int i = 0; i < 25; ++i) {
          SealVerdict verdict = client.verifySeal(index % 3 == 0 ? NAME : "Acme Ltd",
              index % 3 == 0       ? "S-8"
                  : index % 2 == 1 ? "S-1"
                                   : "S-404");
          String expected = verdict.status() == 0 ? "valid seal" : "unknown seal";
          check(expected.equals(verdict.description()), verdict.toString());
        }
      });
    });
  }
}
