{ Tests of the Pascal binding against the built library and the reference seal
  server: kel_tests URL HEADER (the server holds S-1 of "Acme Ltd" and S-8 of
  张三 as valid seals and honours fault= in requests; HEADER is
  kel/kel_messages.h). Prints a line per case and "N passed, N failed"; exits
  1 when a case failed. Compiles in Delphi and in ObjFPC mode alike. }
program kel_tests;

{$IFDEF FPC}
  {$IF NOT DEFINED(FPC_DELPHI) AND NOT DEFINED(FPC_OBJFPC)}
    {$MODE OBJFPC}
  {$IFEND}
  {$H+}
{$ENDIF}

uses
  {$IFDEF FPC}{$IFDEF UNIX}cthreads,{$ENDIF}{$ENDIF}
  Classes, SysUtils, Kel;

type
  ECheckFailed = class(Exception);

  { Runs failing decryptions (odd threads) against calls that empty the last
    error (even threads); each failure must carry its own message. }
  TRaceThread = class(TThread)
  private
    FIndex: Integer;
  protected
    procedure Execute; override;
  public
    Error: string;
    constructor Create(Index: Integer);
  end;

  TVerdictRow = record
    Name: UnicodeString;
    Id: string;
    Status: Integer;
    Description: string;
  end;

  TTamper = (tpNothing, tpContent, tpTime, tpSignature);
  TStampRow = record
    Tamper: TTamper;
    Outcome: string; // 'valid', 'invalid', or the code of an EKelError
  end;

const
  VerdictRows: array[0..3] of TVerdictRow = (
    (Name: 'Acme Ltd'; Id: 'S-1'; Status: 0; Description: 'valid seal'),
    (Name: 'Acme Ltd'; Id: 'S-404'; Status: 2; Description: 'unknown seal'),
    (Name: 'Other'; Id: 'S-1'; Status: 3; Description: ''),
    // 张三, a holder name that only GBK's double bytes can send.
    (Name: #$5F20#$4E09; Id: 'S-8'; Status: 0; Description: 'valid seal'));
  StampRows: array[0..3] of TStampRow = (
    (Tamper: tpNothing; Outcome: 'valid'),
    (Tamper: tpContent; Outcome: 'invalid'),
    (Tamper: tpTime; Outcome: 'invalid'),
    (Tamper: tpSignature; Outcome: 'invalid'));
  { 无法连接服务器！ as the library gives it, in GBK. }
  { U+1F600, which GBK has not got. }
  Emoji: UnicodeString = #$D83D#$DE00;
  UnreachableHex = 'CEDEB7A8C1ACBDD3B7FECEF1C6F7A3A1';
  CaseNames: array[0..6] of string = (
    'verdicts',
    'a failure carries the library''s message',
    'every message of the header has its code and meaning',
    'unsafe texts are refused before the call',
    'record, server time and timestamp',
    'base64, hex, AES and random strings',
    'concurrent calls read their own last error');

var
  Url, HeaderPath: string;
  Client: TKelClient;
  Passed, Failed: Integer;

procedure Check(Condition: Boolean; const What: string);
begin
  if not Condition then
    raise ECheckFailed.Create(What);
end;

function HexOf(const Raw: RawByteString): string;
var
  I: Integer;
begin
  Result := '';
  for I := 1 to Length(Raw) do
    Result := Result + IntToHex(Ord(Raw[I]), 2);
end;

function Bytes(const Text: RawByteString): TBytes;
begin
  Result := nil;
  SetLength(Result, Length(Text));
  if Length(Text) > 0 then
    Move(Text[1], Result[0], Length(Text));
end;

function Zeros(Count: Integer): TBytes;
begin
  Result := nil;
  SetLength(Result, Count);
  FillChar(Result[0], Count, 0);
end;

function Key: TBytes;
begin
  Result := Bytes('0123456789abcdef');
end;

function SameBytes(const One, Other: TBytes): Boolean;
begin
  Result := (Length(One) = Length(Other)) and
    ((Length(One) = 0) or CompareMem(@One[0], @Other[0], Length(One)));
end;

function IsAlphanumeric(const Text: string): Boolean;
var
  I: Integer;
begin
  Result := True;
  for I := 1 to Length(Text) do
    if not CharInSet(Text[I], ['A'..'Z', 'a'..'z', '0'..'9']) then
      Result := False;
end;

constructor TRaceThread.Create(Index: Integer);
begin
  FIndex := Index;
  Error := '';
  inherited Create(False);
end;

procedure TRaceThread.Execute;
var
  I: Integer;
begin
  try
    for I := 1 to 2000 do
      if Odd(FIndex) then
      begin
        try
          KelAesDecrypt(Zeros(32), Key);
          Error := 'no failure';
          Exit;
        except
          on E: EKelError do
            if E.Code <> 'KEL_MSG_DECRYPT_FAILED' then
            begin
              Error := 'read "' + HexOf(E.RawMessage) + '"';
              Exit;
            end;
        end;
      end
      else
        KelRandomString;
  except
    on E: Exception do
      Error := E.Message;
  end;
end;

procedure CaseVerdicts;
var
  Row: TVerdictRow;
  Verdict: TKelVerdict;
  I: Integer;
begin
  for I := Low(VerdictRows) to High(VerdictRows) do
  begin
    Row := VerdictRows[I];
    Verdict := Client.VerifySeal(string(Row.Name), Row.Id);
    Check(Verdict.Status = Row.Status, Row.Id + ' status ' + IntToStr(Verdict.Status));
    Check(Verdict.Valid = (Row.Status = 0), Row.Id + ' valid');
    if Row.Description <> '' then
      Check(Verdict.Description = Row.Description, Row.Id + ': ' + Verdict.Description);
  end;
  // The time and type are sent as given.
  Check(Client.VerifySeal('Acme Ltd', 'S-1', '2024-05-06 07:08:09', False).Valid, 'given time');
end;

procedure CaseFailure;
var
  Broken: TKelClient;
  Step: Integer;
  Raised: Boolean;
begin
  Broken := TKelClient.Create(Url + 'x?fault=empty-body');
  try
    for Step := 0 to 2 do
    begin
      Raised := False;
      try
        case Step of
          0: Broken.VerifySeal('Acme Ltd', 'S-1');
          1: Broken.SendSealRecord('alice', 'S-1');
          2: Broken.GetServerTime('contract 7');
        end;
      except
        on E: EKelError do
        begin
          Raised := True;
          Check(HexOf(E.RawMessage) = UnreachableHex, 'GBK bytes ' + HexOf(E.RawMessage));
          Check(E.Code = 'KEL_MSG_SERVER_UNREACHABLE', 'code ' + E.Code);
          Check(E.Meaning = 'the server cannot be reached', 'meaning ' + E.Meaning);
          Check(Pos('the server cannot be reached', E.Message) > 0, E.Message);
          if Step = 0 then
          begin
            Check(E.FunctionName = 'Kel_VerifySeal', E.FunctionName);
            // The GBK text decoded: 无法连接服务器！
            Check(UnicodeString(E.LibraryMessage) =
              #$65E0#$6CD5#$8FDE#$63A5#$670D#$52A1#$5668#$FF01, E.LibraryMessage);
          end;
        end;
      end;
      Check(Raised, 'step ' + IntToStr(Step) + ' raised nothing');
    end;
  finally
    Broken.Free;
  end;
end;

{ The header's text with its line continuations joined. }
function ReadHeader(const Path: string): string;
var
  Lines: TStringList;
begin
  Lines := TStringList.Create;
  try
    Lines.LoadFromFile(Path);
    Result := StringReplace(Lines.Text, '\' + Lines.LineBreak, ' ', [rfReplaceAll]);
  finally
    Lines.Free;
  end;
end;

{ The word of letters, digits and '_' at Text[Index], Index moved past it. }
function TakeWord(const Text: string; var Index: Integer): string;
var
  Start: Integer;
begin
  while (Index <= Length(Text)) and (Text[Index] = ' ') do
    Inc(Index);
  Start := Index;
  while (Index <= Length(Text)) and CharInSet(Text[Index], ['A'..'Z', 'a'..'z', '0'..'9', '_']) do
    Inc(Index);
  Result := Copy(Text, Start, Index - Start);
end;

procedure CaseMessageTable;
var
  Lines: TStringList;
  Names, Hexes: TStringList;
  Line, Table, Code, Meaning, Hex: string;
  I, At, Row, Quote: Integer;
begin
  Lines := TStringList.Create;
  Names := TStringList.Create;
  Hexes := TStringList.Create;
  try
    Lines.Text := ReadHeader(HeaderPath);
    Table := '';
    // #define KEL_MSG_NAME "\xC9\xFA..." gives the bytes of each message.
    for I := 0 to Lines.Count - 1 do
    begin
      Line := Lines[I];
      if Pos('#define KEL_MESSAGE_TABLE', Line) = 1 then
        Table := Line
      else if Pos('#define KEL_MSG_', Line) = 1 then
      begin
        At := Length('#define ') + 1;
        Names.Add(TakeWord(Line, At));
        Hex := '';
        At := Pos('\x', Line);
        while At > 0 do
        begin
          Hex := Hex + Copy(Line, At + 2, 2);
          Line := Copy(Line, At + 4, MaxInt);
          At := Pos('\x', Line);
        end;
        Hexes.Add(Hex);
      end;
    end;
    // X(ID, KEL_MSG_ID, "meaning", ...) gives the rows, in order.
    Row := 0;
    At := Pos('X(', Table);
    while At > 0 do
    begin
      Table := Copy(Table, At + 2, MaxInt);
      At := Pos(',', Table) + 1;
      Code := TakeWord(Table, At);
      Quote := Pos('"', Table);
      Meaning := Copy(Table, Quote + 1, MaxInt);
      Meaning := Copy(Meaning, 1, Pos('"', Meaning) - 1);
      Check(Row <= High(KelMessages), 'more rows than the binding has: ' + Code);
      Check((KelMessages[Row].Code = Code) and (KelMessages[Row].Meaning = Meaning) and
        (Names.IndexOf(Code) >= 0) and (KelMessages[Row].Hex = Hexes[Names.IndexOf(Code)]),
        'row ' + IntToStr(Row) + ': ' + Code);
      Inc(Row);
      At := Pos('X(', Table);
    end;
    Check(Row = Length(KelMessages), 'rows: ' + IntToStr(Row));
  finally
    Hexes.Free;
    Names.Free;
    Lines.Free;
  end;
end;

procedure CaseUnsafeTexts;
var
  Ids: array[0..1] of string;
  I: Integer;
  Raised: Boolean;
begin
  // A zero character would send seal S-1 for S-1#0S-404; U+1F600 has no GBK bytes.
  Ids[0] := 'S-1' + #0 + 'S-404';
  Ids[1] := string(Emoji);
  for I := Low(Ids) to High(Ids) do
  begin
    // An ANSI string (Free Pascal on Windows) has made it '?' already.
    if (I = 1) and (UnicodeString(Ids[I]) <> Emoji) then
      Continue;
    Raised := False;
    try
      Client.VerifySeal('Acme Ltd', Ids[I]);
    except
      on EArgumentException do
        Raised := True;
    end;
    Check(Raised, 'text ' + IntToStr(I) + ' was sent');
  end;
end;

procedure CaseRecordAndTime;
var
  Stamp: TKelServerTime;
  Content, Time, Signature, Outcome: string;
  I: Integer;
begin
  Check(Client.SendSealRecord('alice', 'S-1', 'contract 7') = '0,0,recorded', 'record');
  Stamp := Client.GetServerTime('contract 7');
  Check((Length(Stamp.Time) = 19) and (Stamp.Time[5] = '-') and (Stamp.Time[11] = ' ') and
    (Stamp.Time[14] = ':'), Stamp.Time);
  Check(Length(KelLocalTime) = 19, 'local time ' + KelLocalTime);
  for I := Low(StampRows) to High(StampRows) do
  begin
    Content := 'contract 7';
    Time := Stamp.Time;
    Signature := Stamp.Signature;
    case StampRows[I].Tamper of
      tpContent: Content := 'contract 8';
      tpTime: Time := IntToStr(StrToInt(Copy(Time, 1, 4)) + 1) + Copy(Time, 5, MaxInt);
      tpSignature: Signature := 'not base64!';
    end;
    try
      if KelVerifyTimeStamp(Content, Time, Signature) then
        Outcome := 'valid'
      else
        Outcome := 'invalid';
    except
      on E: EKelError do
        Outcome := E.Code;
    end;
    Check(Outcome = StampRows[I].Outcome, 'row ' + IntToStr(I) + ': ' + Outcome);
  end;
  // A message left by an earlier failure does not pass for this call's.
  try
    KelAesDecrypt(Zeros(32), Key);
  except
    on EKelError do ;
  end;
  Check(KelVerifyTimeStamp('contract 7', Stamp.Time, Stamp.Signature), 'after a failure');
end;

procedure CaseLocalHelpers;
const
  Texts: array[0..4] of RawByteString = ('', #0, 'ab', #0#10#13#26#255, 'any carnal pleasure.');
  Base64: array[0..4] of string = ('', 'AA==', 'YWI=', 'AAoNGv8=', 'YW55IGNhcm5hbCBwbGVhc3VyZS4=');
  Hex: array[0..4] of string = ('', '00', '6162', '000a0d1aff', '616e79206361726e616c20706c6561737572652e');
var
  Cut, Data: TBytes;
  I: Integer;
  Raised: Boolean;
  Random: string;
begin
  for I := Low(Texts) to High(Texts) do
  begin
    Data := Bytes(Texts[I]);
    Check(KelToBase64(Data) = Base64[I], 'base64 ' + KelToBase64(Data));
    Check(SameBytes(KelFromBase64(Base64[I]), Data), 'from base64 ' + Base64[I]);
    Check(KelBinToHex(Data) = Hex[I], 'hex ' + KelBinToHex(Data));
    Check(SameBytes(KelHexToBin(UpperCase(Hex[I])), Data), 'from hex ' + Hex[I]);
    // The library gives no plaintext of length 0 (a failure instead).
    if Length(Data) > 0 then
      Check(SameBytes(KelAesDecrypt(KelAesEncrypt(Data, Key), Key), Data), 'AES ' + Hex[I]);
  end;
  for I := 0 to 3 do
  begin
    Raised := False;
    try
      case I of
        0: KelFromBase64('YW I=');
        1: KelFromBase64('YWI');
        2: KelHexToBin('6G');
        3: KelHexToBin('616');
      end;
    except
      on EConvertError do
        Raised := True;
    end;
    Check(Raised, 'bad text ' + IntToStr(I) + ' was read');
  end;
  Random := KelRandomString;
  Check((Length(Random) = 16) and IsAlphanumeric(Random), 'random ' + Random);
  Check(KelRandomString <> Random, 'two random strings alike');
  // A ciphertext cut short (under another key, padding may check out by chance).
  Cut := KelAesEncrypt(Bytes('secret'), Key);
  SetLength(Cut, Length(Cut) - 1);
  Raised := False;
  try
    KelAesDecrypt(Cut, Key);
  except
    on E: EKelError do
      Raised := E.Code = 'KEL_MSG_DECRYPT_FAILED';
  end;
  Check(Raised, 'decryption of a ciphertext cut short');
end;

procedure CaseConcurrentCalls;
var
  Threads: array[0..7] of TRaceThread;
  I: Integer;
  Errors: string;
begin
  for I := Low(Threads) to High(Threads) do
    Threads[I] := TRaceThread.Create(I);
  Errors := '';
  for I := Low(Threads) to High(Threads) do
  begin
    Threads[I].WaitFor;
    if Threads[I].Error <> '' then
      Errors := Errors + ' thread ' + IntToStr(I) + ': ' + Threads[I].Error;
    Threads[I].Free;
  end;
  Check(Errors = '', Errors);
end;

procedure RunCase(Index: Integer);
begin
  case Index of
    0: CaseVerdicts;
    1: CaseFailure;
    2: CaseMessageTable;
    3: CaseUnsafeTexts;
    4: CaseRecordAndTime;
    5: CaseLocalHelpers;
    6: CaseConcurrentCalls;
  end;
end;

var
  I: Integer;
begin
  if ParamCount <> 2 then
  begin
    WriteLn('usage: kel_tests URL HEADER');
    Halt(2);
  end;
  Url := ParamStr(1);
  HeaderPath := ParamStr(2);
  Passed := 0;
  Failed := 0;
  Client := TKelClient.Create(Url);
  try
    for I := Low(CaseNames) to High(CaseNames) do
      try
        RunCase(I);
        WriteLn('[ OK ] ', CaseNames[I]);
        Inc(Passed);
      except
        on E: Exception do
        begin
          WriteLn('[FAIL] ', CaseNames[I], ': ', E.ClassName, ': ', E.Message);
          Inc(Failed);
        end;
      end;
  finally
    Client.Free;
  end;
  WriteLn(Passed, ' passed, ', Failed, ' failed');
  if Failed > 0 then
    Halt(1);
end.
