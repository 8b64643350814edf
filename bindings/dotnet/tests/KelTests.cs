// Tests of the C# binding against the built library and the reference seal
// server: KelTests.exe URL HEADER (the server holds S-1 of "Acme Ltd" and S-8
// of 张三 as valid seals and honours fault= in requests; HEADER is
// kel/kel_messages.h). Prints a line per case
// and "N passed, N failed"; exits 1 when a case failed.
using System;
using System.Collections.Generic;
using System.Text.RegularExpressions;
using System.Threading;
using Kel;

static class KelTests {
  // 张三, and the library's messages.
  const string Name = "\u5f20\u4e09";
  const string Unreachable = "\u65e0\u6cd5\u8fde\u63a5\u670d\u52a1\u5668\uff01";
  const string DecryptFailed = "\u89e3\u5bc6\u51fa\u73b0\u5f02\u5e38";
  static readonly byte[] Key = System.Text.Encoding.ASCII.GetBytes("0123456789abcdef");

  static string url;
  static int passed, failed;

  static void Check(bool condition, string what) {
    if (!condition)
      throw new Exception(what);
  }

  static T Throws<T>(Action action)
      where T : Exception {
    try {
      action();
    } catch (T error) {
      return error;
    }
    throw new Exception("expected " + typeof(T).Name);
  }

  static void Case(string name, Action body) {
    try {
      body();
      Console.WriteLine("[ OK ] " + name);
      ++passed;
    } catch (Exception error) {
      Console.WriteLine("[FAIL] " + name + ": " + error);
      ++failed;
    }
  }

  static void RunThreads(int count, Action<int> work) {
    var errors = new List<string>();
    var threads = new List<Thread>();
    for (int i = 0; i < count; ++i) {
      int index = i;
            var thread = new Thread(() =>
            {
                try
                {
                    work(index);
    }
    catch (Exception error) {
      lock (errors) errors.Add("thread " + index + ": " + error.Message);
    }
  });
  threads.Add(thread);
  thread.Start();
}
foreach (var thread in threads) thread.Join();
Check(errors.Count == 0, string.Join("\n", errors));
}

static int Main(string[] args) {
  url = args[0];
  var client = new KelClient(url);

  Case("verdicts", () => {
    var rows = new[] {
      new { Name = "Acme Ltd", Id = "S-1", Status = 0, Description = "valid seal" },
      new { Name = "Acme Ltd", Id = "S-404", Status = 2, Description = "unknown seal" },
      new { Name = "Other", Id = "S-1", Status = 3, Description = (string)null },
      new { Name = Name, Id = "S-8", Status = 0, Description = "valid seal" },
    };
    foreach (var row in rows) {
      SealVerdict verdict = client.VerifySeal(row.Name, row.Id);
      Check(verdict.Status == row.Status, row.Id + " status " + verdict.Status);
      Check(verdict.IsValid == (row.Status == 0), row.Id + " valid");
      if (row.Description != null)
        Check(verdict.Description == row.Description, row.Id + ": " + verdict.Description);
    }
  });

  Case("a failure carries the library's message", () => {
    var broken = new KelClient(url + "x?fault=empty-body");
    var error = Throws<KelException>(() => broken.VerifySeal("Acme Ltd", "S-1"));
    Check(error.LibraryMessage == Unreachable, error.LibraryMessage);
    Check(error.Function == "Kel_VerifySeal", error.Function);
    Check(error.RawMessage.Length == 16, "GBK bytes: " + error.RawMessage.Length);
    // What a program can act on, beside the original text.
    Check(error.Code == "KEL_MSG_SERVER_UNREACHABLE", "code " + error.Code);
    Check(error.Meaning == "the server cannot be reached", "meaning " + error.Meaning);
    Check(error.Message.Contains("the server cannot be reached"), error.Message);
    Throws<KelException>(() => broken.SendSealRecord("alice", "S-1"));
    Throws<KelException>(() => broken.GetServerTime("contract 7"));
  });

  Case("every message of the header has its code and meaning", () => {
    string header = System.IO.File.ReadAllText(args[1]).Replace("\\\n", " ");
    var texts = new Dictionary<string, string>();
    foreach (Match define in Regex.Matches(header, "#define (KEL_MSG_\\w+)\\s+((?:\"[^\"]*\"\\s*)+)")) {
      string hex = "";
      foreach (Match b in Regex.Matches(define.Groups[2].Value, "\\\\x([0-9A-F]{2})"))
        hex += b.Groups[1].Value;
      texts[define.Groups[1].Value] = hex;
    }
    var rows = Regex.Matches(header, "X\\(\\w+,\\s*(KEL_MSG_\\w+),\\s*\"([^\"]*)\"");
    string[,] table = KelMessages.All();
    Check(rows.Count == 13 && table.GetLength(0) == 13, "rows: " + rows.Count);
    for (int i = 0; i < rows.Count; ++i) {
      string code = rows[i].Groups[1].Value;
      Check(table[i, 0] == texts[code] && table[i, 1] == code &&
                table[i, 2] == rows[i].Groups[2].Value,
            code);
    }
  });

  Case("unsafe texts are refused before the call", () => {
    Throws<ArgumentException>(() => client.VerifySeal("Acme Ltd", "S-1\0S-404"));
    Throws<ArgumentException>(() => client.VerifySeal("Acme Ltd", "\ud83d\ude00"));
  });

  Case("record, server time and timestamp", () => {
    Check(client.SendSealRecord("alice", "S-1", "contract 7") == "0,0,recorded", "record");
    ServerTime stamp = client.GetServerTime("contract 7");
    Check(Regex.IsMatch(stamp.Time, @"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$"), stamp.Time);
    Check(KelClient.VerifyTimeStamp("contract 7", stamp.Time, stamp.Signature), "verifies");
    Check(!KelClient.VerifyTimeStamp("contract 8", stamp.Time, stamp.Signature), "other content");
    // A message left by an earlier failure does not pass for this call's.
    Throws<KelException>(() => KelClient.AesDecrypt(new byte[32], Key));
    Check(KelClient.VerifyTimeStamp("contract 7", stamp.Time, stamp.Signature), "after a failure");
  });

  Case("local helpers", () => {
    Check(Regex.IsMatch(KelClient.RandomString(), "^[A-Za-z0-9]{16}$"), "random");
    byte[] data = { 1, 0, 2, 0, 3 };
    byte[] back = KelClient.AesDecrypt(KelClient.AesEncrypt(data, Key), Key);
    Check(Convert.ToBase64String(back) == Convert.ToBase64String(data), "AES round trip");
    // A ciphertext cut short always fails (under another key, the padding
    // checks out by chance about once in 256 runs).
    byte[] cipher = KelClient.AesEncrypt(data, Key);
    Array.Resize(ref cipher, cipher.Length - 1);
    var error = Throws<KelException>(() => KelClient.AesDecrypt(cipher, Key));
    Check(error.LibraryMessage == DecryptFailed, error.LibraryMessage);
  });

  Case("concurrent calls read their own last error", () => {
    // Failing decryptions race calls that empty the last error: each
    // failure must still carry its own message.
    RunThreads(8, index => {
      for (int i = 0; i < 400; ++i) {
        if (index % 2 == 1) {
          var error = Throws<KelException>(() => KelClient.AesDecrypt(new byte[32], Key));
          Check(error.LibraryMessage == DecryptFailed, "read \"" + error.LibraryMessage + "\"");
        } else {
          KelClient.RandomString();
        }
      }
    });
    // Verdicts of valid and unknown seals: each description matches its status.
    RunThreads(6, index => {
      for (int i = 0; i < 25; ++i) {
        SealVerdict verdict = client.VerifySeal("Acme Ltd", index % 2 == 1 ? "S-1" : "S-404");
        string expected = verdict.Status == 0 ? "valid seal" : "unknown seal";
        Check(verdict.Description == expected,
              verdict.Status + " with \"" + verdict.Description + "\"");
      }
    });
  });

  Console.WriteLine(passed + " passed, " + failed + " failed");
  return failed == 0 ? 0 : 1;
}
}
