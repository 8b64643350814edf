// A small host program in C#: asks the seal server whether a seal is valid,
// then obtains a signed server time and checks its signature locally.
// Build: mcs -out:VerifySeal.exe Kel.cs VerifySeal.cs   (or csc on Windows)
// Run:   VerifySeal.exe URL NAME SEAL_ID   with Kel.dll (libkel.so.1), its
//        crypto library and pubkey.key beside the program.
using System;
using Kel;

public static class VerifySeal {
  public static int Main(string[] args) {
    if (args.Length != 3) {
      Console.Error.WriteLine("usage: VerifySeal URL NAME SEAL_ID");
      return 2;
    }
    var client = new KelClient(args[0]);
    try {
      SealVerdict verdict = client.VerifySeal(args[1], args[2]);
      Console.WriteLine(verdict.IsValid ? "seal valid"
                                        : "seal not valid (status " + verdict.Status + "): " +
                                              verdict.Description);
      ServerTime stamp = client.GetServerTime("example");
      bool verifies = KelClient.VerifyTimeStamp("example", stamp.Time, stamp.Signature);
      Console.WriteLine("server time " + stamp.Time + (verifies ? ", signature verifies"
                                                                : ", signature does NOT verify"));
      return verdict.IsValid && verifies ? 0 : 1;
    } catch (KelException error) {
      // Code names the message for a program to act on; Meaning is in English.
      Console.Error.WriteLine(error.Function + " failed: " + error.Code + " (" + error.Meaning + ")");
      return 1;
    }
  }
}
