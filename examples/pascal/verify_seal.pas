{ A small host program in Delphi or Free Pascal: asks the seal server whether
  a seal is valid, then obtains a signed server time and checks its signature
  locally.
  Build: fpc -Fu../../bindings/pascal -Fl/opt/kel/lib verify_seal.pas  (Free Pascal;
         in Delphi add bindings/pascal/Kel.pas to the project)
  Run:   verify_seal URL NAME SEAL_ID   with Kel.dll (libkel.so.1), its crypto
         library and pubkey.key beside the program. }
program verify_seal;

{$IFDEF FPC}{$mode delphi}{$ENDIF}
{$IFDEF MSWINDOWS}{$APPTYPE CONSOLE}{$ENDIF}

uses
  {$IFDEF UNIX}cthreads,{$ENDIF}
  SysUtils, Kel;

var
  Client: TKelClient;
  Verdict: TKelVerdict;
  Stamp: TKelServerTime;
  Verifies: Boolean;
begin
  if ParamCount <> 3 then
  begin
    WriteLn(ErrOutput, 'usage: verify_seal URL NAME SEAL_ID');
    Halt(2);
  end;
  Client := TKelClient.Create(ParamStr(1));
  try
    try
      Verdict := Client.VerifySeal(ParamStr(2), ParamStr(3));
      if Verdict.Valid then
        WriteLn('seal valid')
      else
        WriteLn('seal not valid (status ', Verdict.Status, '): ', Verdict.Description);
      Stamp := Client.GetServerTime('example');
      Verifies := KelVerifyTimeStamp('example', Stamp.Time, Stamp.Signature);
      if Verifies then
        WriteLn('server time ', Stamp.Time, ', signature verifies')
      else
        WriteLn('server time ', Stamp.Time, ', signature does NOT verify');
      if not (Verdict.Valid and Verifies) then
        ExitCode := 1;
    except
      { Code names the message for a program to act on; Meaning is in English. }
      on E: EKelError do
      begin
        WriteLn(ErrOutput, E.FunctionName, ' failed: ', E.Code, ' (', E.Meaning, ')');
        ExitCode := 1;
      end;
    end;
  finally
    Client.Free;
  end;
end.
