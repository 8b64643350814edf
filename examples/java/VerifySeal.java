// A small host program in Java: asks the seal server whether a seal is valid,
// then obtains a signed server time and checks its signature locally.
// Build: javac -cp jna.jar -d classes kel/*.java VerifySeal.java
// Run:   java -Djna.library.path=FOLDER -cp classes:jna.jar VerifySeal URL NAME SEAL_ID
//        where FOLDER holds Kel.dll (libkel.so.1), its crypto library and pubkey.key.
import kel.KelClient;
import kel.KelException;
import kel.SealVerdict;
import kel.ServerTime;

public final class VerifySeal {
  public static void main(String[] args) {
    if (args.length != 3) {
      System.err.println("usage: VerifySeal URL NAME SEAL_ID");
      System.exit(2);
    }
    KelClient client = new KelClient(args[0]);
    try {
      SealVerdict verdict = client.verifySeal(args[1], args[2]);
      System.out.println(verdict.isValid() ? "seal valid"
                                           : "seal not valid (status " + verdict.status() + "): "
                                                 + verdict.description());
      ServerTime stamp = client.getServerTime("example");
      boolean verifies = KelClient.verifyTimeStamp("example", stamp.time(), stamp.signature());
      System.out.println("server time " + stamp.time()
                         + (verifies ? ", signature verifies" : ", signature does NOT verify"));
      System.exit(verdict.isValid() && verifies ? 0 : 1);
    } catch (KelException error) {
      // code() names the message for a program to act on; meaning() is in English.
      System.err.println(error.function() + " failed: " + error.code() + " (" + error.meaning()
                         + ")");
      System.exit(1);
    }
  }
}
