{ Delphi and Free Pascal binding of Kel, the electronic-seal client library
  (Kel.dll on Windows, libkel.so.1 on Linux). Add this unit to your project;
  it is written for Delphi 2009 or later and Free Pascal 3.0 or later.

    Client := TKelClient.Create('http://127.0.0.1:8080/');
    try
      Verdict := Client.VerifySeal('Acme Ltd', 'S-1');
      if Verdict.Valid then ...
    finally
      Client.Free;
    end;

  Texts go to the library as GBK (code page 936) and come back from GBK into
  the compiler's string type: converted by Windows on Windows, by the C
  library's iconv on Linux (this unit uses cwstring there, under Free
  Pascal). Free Pascal keeps strings in the system's code page (the ANSI
  code page on Windows, the locale's on Linux): run a program on Linux under
  a UTF-8 locale for texts beyond ASCII.

  Every buffer the library hands out is copied into a Pascal string or byte
  array and released with Kel_ReleaseBuf. The library keeps one last-error
  text per process: every call here holds one process-wide lock (KelLock,
  KelUnlock) together with its read of that text. Code that calls the
  exports directly, beside these wrappers, must hold it too.

  The exports are stdcall on 32-bit Windows and cdecl elsewhere, imported
  by their undecorated names from Kel.dll. Under Free Pascal on Linux they
  are linked as -lkel, through the development link libkel.so (an installed
  tree's lib folder: -Fl/opt/kel/lib); the program then loads libkel.so.1. }
unit Kel;

{$IFDEF FPC}
  {$IF NOT DEFINED(FPC_DELPHI) AND NOT DEFINED(FPC_OBJFPC) AND NOT DEFINED(FPC_DELPHIUNICODE)}
    {$MODE OBJFPC}
  {$IFEND}
  {$H+}
{$ENDIF}

interface

uses
  {$IFDEF FPC}{$IFDEF UNIX}cwstring,{$ENDIF}{$ENDIF}
  {$IFNDEF FPC}SyncObjs,{$ENDIF}
  SysUtils;

const
{$IFDEF MSWINDOWS}
  KelLibrary = 'Kel.dll';
{$ELSE}
  {$IFDEF FPC}
  KelLibrary = 'kel';
  {$ELSE}
  KelLibrary = 'libkel.so.1';
  {$ENDIF}
{$ENDIF}

  { Kel_GetCiphertext's result for an empty text. }
  KEL_EMPTY_TEXT = $00FFFFFE;

{ ---- The fourteen exports, as include/kel/kel.h declares them ------------- }

function Kel_ReleaseBuf(Buffer: Pointer): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_ReleaseBuf';
function Kel_GetLastErr: PAnsiChar;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_GetLastErr';
function Kel_SendSealRecord(UserName, SealId, Remark, Url: PAnsiChar; Result: PPAnsiChar): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_SendSealRecord';
function Kel_VerifySeal(Url, Name, Id, Time: PAnsiChar; TypeFlag: Integer;
  Status: PInteger): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_VerifySeal';
function Kel_GetServerTime(Time, Signature: PPAnsiChar; Content, Url: PAnsiChar): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_GetServerTime';
function Kel_VerifyTimeStamp(Content, Time, Signature: PAnsiChar): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_VerifyTimeStamp';
procedure Kel_to64frombits(Text: PAnsiChar; Bytes: PByte; Count: Integer);
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_to64frombits';
function Kel_from64tobits(Bytes: PByte; Text: PAnsiChar; Limit: Integer): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_from64tobits';
function Kel_GetCiphertext(Text: PAnsiChar; Copy: PPAnsiChar): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_GetCiphertext';
function Kel_BinToHex(Bytes: PByte; Hex: PAnsiChar; Count: Cardinal): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_BinToHex';
function Kel_HexToBin(Bytes: PByte; Hex: PAnsiChar; Count: Cardinal): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_HexToBin';
function Kel_GetRadomString: PAnsiChar;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_GetRadomString';
function Kel_AESEncryption(Data: PByte; DataLength: Integer; Key: PByte; KeyLength: Integer;
  ResultLength: PInteger): PByte;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_AESEncryption';
function Kel_AESDecryption(Data: PByte; DataLength: Integer; Key: PByte; KeyLength: Integer;
  ResultLength: PInteger): PByte;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external KelLibrary name 'Kel_AESDecryption';

{ ---- Wrappers ---------------------------------------------------------------- }

type
  { A call of the library failed. Carries the library's message (LibraryMessage,
    and its GBK bytes in RawMessage) and, for a program to act on, Code, the
    message's name in kel/kel_messages.h ('KEL_MSG_SERVER_UNREACHABLE'), and
    Meaning, in English ('the server cannot be reached'); both are empty for a
    text that is none of the library's messages. }
  EKelError = class(Exception)
  private
    FFunctionName: string;
    FCode: string;
    FMeaning: string;
    FLibraryMessage: string;
    FRawMessage: RawByteString;
  public
    constructor Create(const FunctionName: string; const RawMessage: RawByteString);
    { The export that failed. }
    property FunctionName: string read FFunctionName;
    property Code: string read FCode;
    property Meaning: string read FMeaning;
    property LibraryMessage: string read FLibraryMessage;
    property RawMessage: RawByteString read FRawMessage;
  end;

  { The server's verdict on a seal: status 0 means valid. }
  TKelVerdict = record
    Status: Integer;
    Description: string;
    Valid: Boolean;
  end;

  { A time signed by the server over a content text. }
  TKelServerTime = record
    Time: string;
    Signature: string;
  end;

  { The server transactions against one seal server. }
  TKelClient = class
  private
    FUrl: string;
    FRawUrl: RawByteString;
  public
    constructor Create(const Url: string);
    { Asks the server whether the seal SealId of Name is valid. Time is sent
      as given; an empty Time sends the local time. Raises EKelError when no
      verdict could be read. }
    function VerifySeal(const Name, SealId: string; const Time: string = '';
      TypeZero: Boolean = True): TKelVerdict;
    { Reports one use of a seal; returns the server's result text. }
    function SendSealRecord(const UserName, SealId: string; const Remark: string = ''): string;
    { Obtains a time signed by the server over Content. }
    function GetServerTime(const Content: string): TKelServerTime;
    property Url: string read FUrl;
  end;

  { One of the library's messages, as KEL_MESSAGE_TABLE in kel/kel_messages.h
    lists them: its GBK bytes in hex, its name and its meaning in English. }
  TKelMessage = record
    Hex: string;
    Code: string;
    Meaning: string;
  end;

const
  KelMessages: array[0..12] of TKelMessage = (
    (Hex: 'C9FAB3C9CBE6BBFACAFDD2ECB3A3'; Code: 'KEL_MSG_RANDOM_FAILED';
     Meaning: 'the random string could not be generated'),
    (Hex: 'BCD3C3DCB3F6CFD6D2ECB3A3B4EDCEF3'; Code: 'KEL_MSG_ENCRYPT_FAILED';
     Meaning: 'encryption failed'),
    (Hex: 'BDE2C3DCB3F6CFD6D2ECB3A3'; Code: 'KEL_MSG_DECRYPT_FAILED';
     Meaning: 'decryption failed'),
    (Hex: 'CEDEB7A8C1ACBDD3B7FECEF1C6F7A3A1'; Code: 'KEL_MSG_SERVER_UNREACHABLE';
     Meaning: 'the server cannot be reached'),
    (Hex: 'B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB8F1CABDB2BBBACFB7A8'; Code: 'KEL_MSG_BAD_ANSWER_FORMAT';
     Meaning: 'the server''s answer is not in a valid format'),
    (Hex: 'BDE2C3DCB7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDCAA7B0DC'; Code: 'KEL_MSG_ANSWER_DECRYPT_FAILED';
     Meaning: 'the server''s answer could not be decrypted'),
    (Hex: 'D1E9D6A4B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB2BBD5FDC8B7'; Code: 'KEL_MSG_ANSWER_NOT_VERIFIED';
     Meaning: 'the server''s answer did not verify'),
    (Hex: 'D1E9D6A4B7FECEF1C6F7B4ABBBD8B5C4CAFDBEDDB3F6CFD6D2ECB3A3B4EDCEF3';
     Code: 'KEL_MSG_ANSWER_VERIFY_RAISED'; Meaning: 'verifying the server''s answer raised an error'),
    (Hex: 'C3BBD3D0B9ABD4BFCAFDBEDDA3A1'; Code: 'KEL_MSG_NO_PUBLIC_KEY';
     Meaning: 'no server key was loaded'),
    (Hex: 'B2CECAFDB4EDCEF3'; Code: 'KEL_MSG_BAD_ARGUMENT';
     Meaning: 'wrong argument'),
    (Hex: 'C1ACBDD3B7FECEF1C6F7CAA7B0DC'; Code: 'KEL_MSG_TRANSACTION_FAILED';
     Meaning: 'the server transaction failed'),
    (Hex: 'CAB1BCE4B4C1CEDED0A7'; Code: 'KEL_MSG_TIMESTAMP_INVALID';
     Meaning: 'the timestamp is not valid'),
    (Hex: 'D1E9D6A4CAB1BCE4B4C1CAB1B3F6CFD6D2ECB3A3B4EDCEF3'; Code: 'KEL_MSG_TIMESTAMP_VERIFY_RAISED';
     Meaning: 'verifying the timestamp raised an error'));

{ Checks locally that Signature is the server's over Content followed by Time,
  against pubkey.key. True when it verifies, False when it does not; raises
  EKelError when it cannot be checked (no pubkey.key, a signature that is no
  signature). }
function KelVerifyTimeStamp(const Content, Time, Signature: string): Boolean;
{ The local clock's time as the library formats it (YYYY-MM-DD hh:mm:ss). }
function KelLocalTime: string;
{ A fresh random string of 16 letters and digits. }
function KelRandomString: string;
{ Encrypts Data under a key of 16, 24 or 32 bytes. }
function KelAesEncrypt(const Data, Key: TBytes): TBytes;
{ Decrypts what KelAesEncrypt produced under the same key. }
function KelAesDecrypt(const Data, Key: TBytes): TBytes;
{ Standard, padded base64 of Data. }
function KelToBase64(const Data: TBytes): string;
{ The bytes of a base64 text; an empty text gives none. Raises EConvertError
  for a text that is not base64 (line breaks and spaces included). }
function KelFromBase64(const Text: string): TBytes;
{ Lowercase hex digits of Data. }
function KelBinToHex(const Data: TBytes): string;
{ The bytes of a text of hex digit pairs; raises EConvertError for anything
  else (the library itself would read a non-digit as some byte). }
function KelHexToBin(const Hex: string): TBytes;

{ The lock that every wrapper holds from its call to its read of the last
  error; hold it too when calling the exports directly. It may be taken
  again by the thread that holds it. }
procedure KelLock;
procedure KelUnlock;

{ Copies the text of a buffer the library handed out and releases the buffer
  (nil gives an empty text). }
function KelTakeBuffer(Buffer: PAnsiChar): RawByteString;
{ The last-error text as the library's GBK bytes (hold the lock from the call
  that set it). }
function KelLastError: RawByteString;
{ A text as the zero-terminated GBK bytes the library reads. A character that
  GBK has not got, or a zero character (which would cut the text short, so
  that another seal or content would be sent), raises EArgumentException
  naming Parameter. }
function KelToGbk(const Text, Parameter: string): RawByteString;
{ GBK bytes from the library as a string. }
function KelFromGbk(const Raw: RawByteString): string;
{ Finds the code and meaning of a message the library gave; False for another text. }
function KelLookupMessage(const Raw: RawByteString; out Code, Meaning: string): Boolean;

implementation

type
  TKelGbkString = type AnsiString(936);

var
{$IFDEF FPC}
  CallLock: TRTLCriticalSection;
{$ELSE}
  CallLock: TCriticalSection;
{$ENDIF}

procedure KelLock;
begin
{$IFDEF FPC}
  EnterCriticalSection(CallLock);
{$ELSE}
  CallLock.Acquire;
{$ENDIF}
end;

procedure KelUnlock;
begin
{$IFDEF FPC}
  LeaveCriticalSection(CallLock);
{$ELSE}
  CallLock.Release;
{$ENDIF}
end;

function HexOf(const Raw: RawByteString): string;
const
  Digits: array[0..15] of Char = '0123456789ABCDEF';
var
  I: Integer;
begin
  Result := '';
  SetLength(Result, 2 * Length(Raw));
  for I := 1 to Length(Raw) do
  begin
    Result[2 * I - 1] := Digits[Ord(Raw[I]) shr 4];
    Result[2 * I] := Digits[Ord(Raw[I]) and 15];
  end;
end;

function KelLookupMessage(const Raw: RawByteString; out Code, Meaning: string): Boolean;
var
  Hex: string;
  I: Integer;
begin
  Hex := HexOf(Raw);
  for I := Low(KelMessages) to High(KelMessages) do
    if KelMessages[I].Hex = Hex then
    begin
      Code := KelMessages[I].Code;
      Meaning := KelMessages[I].Meaning;
      Result := True;
      Exit;
    end;
  Code := '';
  Meaning := '';
  Result := False;
end;

function KelToGbk(const Text, Parameter: string): RawByteString;
var
  Wide: UnicodeString;
  Gbk: TKelGbkString;
begin
  if Pos(#0, Text) > 0 then
    raise EArgumentException.CreateFmt(
      '%s holds a zero character, which would cut the text short', [Parameter]);
  Wide := UnicodeString(Text);
  Gbk := TKelGbkString(Wide);
  // A character that GBK has not got comes out as '?' (or a look-alike):
  // refuse the text rather than send another one.
  if UnicodeString(Gbk) <> Wide then
    raise EArgumentException.CreateFmt('%s holds a character that GBK has not got', [Parameter]);
  Result := RawByteString(Gbk);
end;

function KelFromGbk(const Raw: RawByteString): string;
var
  Gbk: RawByteString;
begin
  Gbk := Raw;
  SetCodePage(Gbk, 936, False);
  Result := string(UnicodeString(Gbk));
end;

function KelTakeBuffer(Buffer: PAnsiChar): RawByteString;
var
  Count: Integer;
begin
  Result := '';
  if Buffer = nil then
    Exit;
  try
    Count := 0;
    while Buffer[Count] <> #0 do
      Inc(Count);
    SetString(Result, Buffer, Count);
  finally
    Kel_ReleaseBuf(Buffer);
  end;
end;

function KelLastError: RawByteString;
begin
  Result := KelTakeBuffer(Kel_GetLastErr);
end;

{ EKelError }

constructor EKelError.Create(const FunctionName: string; const RawMessage: RawByteString);
var
  Text: string;
begin
  FFunctionName := FunctionName;
  FRawMessage := RawMessage;
  FLibraryMessage := KelFromGbk(RawMessage);
  KelLookupMessage(RawMessage, FCode, FMeaning);
  if RawMessage = '' then
    Text := 'no reason given'
  else
    Text := FLibraryMessage;
  if FCode <> '' then
    Text := Text + ' (' + FCode + ': ' + FMeaning + ')';
  inherited Create(FunctionName + ' failed: ' + Text);
end;

{ TKelClient }

constructor TKelClient.Create(const Url: string);
begin
  inherited Create;
  FUrl := Url;
  FRawUrl := KelToGbk(Url, 'Url');
end;

function TKelClient.VerifySeal(const Name, SealId: string; const Time: string;
  TypeZero: Boolean): TKelVerdict;
var
  RawName, RawId, RawTime, Text: RawByteString;
  Status, Outcome: Integer;
begin
  RawName := KelToGbk(Name, 'Name');
  RawId := KelToGbk(SealId, 'SealId');
  if Time = '' then
    RawTime := KelToGbk(KelLocalTime, 'Time')
  else
    RawTime := KelToGbk(Time, 'Time');
  KelLock;
  try
    Status := 1;
    Outcome := Kel_VerifySeal(PAnsiChar(FRawUrl), PAnsiChar(RawName), PAnsiChar(RawId),
      PAnsiChar(RawTime), Ord(TypeZero), @Status);
    // After a verdict the last error holds the server's description.
    Text := KelLastError;
  finally
    KelUnlock;
  end;
  if Outcome <> 0 then
    raise EKelError.Create('Kel_VerifySeal', Text);
  Result.Status := Status;
  Result.Description := KelFromGbk(Text);
  Result.Valid := Status = 0;
end;

function TKelClient.SendSealRecord(const UserName, SealId: string; const Remark: string): string;
var
  RawUser, RawSeal, RawRemark, Text: RawByteString;
  Buffer: PAnsiChar;
begin
  RawUser := KelToGbk(UserName, 'UserName');
  RawSeal := KelToGbk(SealId, 'SealId');
  RawRemark := KelToGbk(Remark, 'Remark');
  KelLock;
  try
    Buffer := nil;
    if Kel_SendSealRecord(PAnsiChar(RawUser), PAnsiChar(RawSeal), PAnsiChar(RawRemark),
      PAnsiChar(FRawUrl), @Buffer) <> 0 then
      raise EKelError.Create('Kel_SendSealRecord', KelLastError);
    Text := KelTakeBuffer(Buffer);
  finally
    KelUnlock;
  end;
  Result := KelFromGbk(Text);
end;

function TKelClient.GetServerTime(const Content: string): TKelServerTime;
var
  RawContent, RawTime, RawSignature: RawByteString;
  Time, Signature: PAnsiChar;
  Outcome: Integer;
begin
  RawContent := KelToGbk(Content, 'Content');
  KelLock;
  try
    Time := nil;
    Signature := nil;
    Outcome := Kel_GetServerTime(@Time, @Signature, PAnsiChar(RawContent), PAnsiChar(FRawUrl));
    // On some failures both buffers were handed out all the same.
    try
      RawTime := KelTakeBuffer(Time);
    finally
      RawSignature := KelTakeBuffer(Signature);
    end;
    if Outcome <> 0 then
      raise EKelError.Create('Kel_GetServerTime', KelLastError);
  finally
    KelUnlock;
  end;
  Result.Time := KelFromGbk(RawTime);
  Result.Signature := KelFromGbk(RawSignature);
end;

{ Local helpers }

function KelVerifyTimeStamp(const Content, Time, Signature: string): Boolean;
var
  RawContent, RawTime, RawSignature, Reason: RawByteString;
  Unused: Byte;
  Code, Meaning: string;
begin
  RawContent := KelToGbk(Content, 'Content');
  RawTime := KelToGbk(Time, 'Time');
  RawSignature := KelToGbk(Signature, 'Signature');
  KelLock;
  try
    // Kel_VerifyTimeStamp keeps an earlier message: empty it first (a hex
    // conversion of nothing does), so that the reason read below is this call's.
    Unused := 0;
    Kel_BinToHex(@Unused, PAnsiChar(@Unused), 0);
    if Kel_VerifyTimeStamp(PAnsiChar(RawContent), PAnsiChar(RawTime),
      PAnsiChar(RawSignature)) = 0 then
    begin
      Result := True;
      Exit;
    end;
    Reason := KelLastError;
  finally
    KelUnlock;
  end;
  if KelLookupMessage(Reason, Code, Meaning) and (Code = 'KEL_MSG_TIMESTAMP_INVALID') then
    Result := False
  else
    raise EKelError.Create('Kel_VerifyTimeStamp', Reason);
end;

function KelLocalTime: string;
var
  Time: PAnsiChar;
  Text: RawByteString;
begin
  KelLock;
  try
    Time := nil;
    // Without a URL the library gives the local clock's time.
    if Kel_GetServerTime(@Time, nil, nil, nil) <> 0 then
    begin
      KelTakeBuffer(Time);
      raise EKelError.Create('Kel_GetServerTime', KelLastError);
    end;
    Text := KelTakeBuffer(Time);
  finally
    KelUnlock;
  end;
  Result := KelFromGbk(Text);
end;

function KelRandomString: string;
var
  Buffer: PAnsiChar;
  Text: RawByteString;
begin
  KelLock;
  try
    Buffer := Kel_GetRadomString;
    if Buffer = nil then
      raise EKelError.Create('Kel_GetRadomString', KelLastError);
    Text := KelTakeBuffer(Buffer);
  finally
    KelUnlock;
  end;
  Result := KelFromGbk(Text);
end;

{ The address of the first byte of Bytes, or of Spare when there is none: the
  library is never handed a null pointer for data of length 0. }
function FirstByte(const Bytes: TBytes; var Spare: Byte): PByte;
begin
  if Length(Bytes) = 0 then
    Result := @Spare
  else
    Result := @Bytes[0];
end;

{ Length of Bytes, refused when an int of the C API cannot hold it (a longer
  input would be cut short). }
function IntLength(const Bytes: TBytes; const Parameter: string): Integer;
begin
  if Int64(Length(Bytes)) > High(Integer) then
    raise EArgumentException.CreateFmt('%s is longer than the library takes', [Parameter]);
  Result := Length(Bytes);
end;

function Aes(Encrypt: Boolean; const Data, Key: TBytes): TBytes;
var
  FunctionName: string;
  DataLength, KeyLength, ResultLength: Integer;
  Spare: Byte;
  Buffer: PByte;
begin
  DataLength := IntLength(Data, 'Data');
  KeyLength := IntLength(Key, 'Key');
  if Encrypt then
    FunctionName := 'Kel_AESEncryption'
  else
    FunctionName := 'Kel_AESDecryption';
  Spare := 0;
  KelLock;
  try
    ResultLength := 0;
    if Encrypt then
      Buffer := Kel_AESEncryption(FirstByte(Data, Spare), DataLength, FirstByte(Key, Spare),
        KeyLength, @ResultLength)
    else
      Buffer := Kel_AESDecryption(FirstByte(Data, Spare), DataLength, FirstByte(Key, Spare),
        KeyLength, @ResultLength);
    if Buffer = nil then
      raise EKelError.Create(FunctionName, KelLastError);
    try
      if ResultLength < 0 then
        raise EKelError.Create(FunctionName, '');
      Result := nil;
      SetLength(Result, ResultLength);
      if ResultLength > 0 then
        Move(Buffer^, Result[0], ResultLength);
    finally
      Kel_ReleaseBuf(Buffer);
    end;
  finally
    KelUnlock;
  end;
end;

function KelAesEncrypt(const Data, Key: TBytes): TBytes;
begin
  Result := Aes(True, Data, Key);
end;

function KelAesDecrypt(const Data, Key: TBytes): TBytes;
begin
  Result := Aes(False, Data, Key);
end;

{ ASCII text (base64, hex) as the bytes the library reads; anything else
  raises EConvertError. }
function AsciiBytes(const Text, What: string): RawByteString;
var
  I: Integer;
begin
  Result := '';
  SetLength(Result, Length(Text));
  for I := 1 to Length(Text) do
  begin
    if (Ord(Text[I]) = 0) or (Ord(Text[I]) > 127) then
      raise EConvertError.CreateFmt('not %s: %s', [What, Text]);
    Result[I] := AnsiChar(Ord(Text[I]));
  end;
end;

function KelToBase64(const Data: TBytes): string;
var
  Count: Integer;
  Spare: Byte;
  Text: RawByteString;
begin
  Count := IntLength(Data, 'Data');
  // 4 characters for every 3 bytes begun, and the terminator, within an int.
  if Count > (High(Integer) - 1) div 4 * 3 then
    raise EArgumentException.Create('Data is longer than the library takes');
  Text := '';
  SetLength(Text, 4 * ((Count + 2) div 3) + 1);
  Spare := 0;
  Kel_to64frombits(PAnsiChar(Text), FirstByte(Data, Spare), Count);
  SetLength(Text, Length(Text) - 1);
  Result := string(Text);
end;

function KelFromBase64(const Text: string): TBytes;
var
  Ascii: RawByteString;
  Capacity, Count: Integer;
begin
  Result := nil;
  if Text = '' then
    Exit;
  Ascii := AsciiBytes(Text, 'base64');
  // Never more than 3 bytes for every 4 characters; with this limit (never
  // 0, which means none) the library writes no further.
  Capacity := 3 * (Length(Ascii) div 4) + 3;
  SetLength(Result, Capacity);
  Count := Kel_from64tobits(@Result[0], PAnsiChar(Ascii), Capacity);
  if Count < 0 then
    raise EConvertError.CreateFmt('not base64: %s', [Text]);
  SetLength(Result, Count);
end;

function KelBinToHex(const Data: TBytes): string;
var
  Count: Integer;
  Text: RawByteString;
begin
  Count := IntLength(Data, 'Data');
  if Count = 0 then
  begin
    Result := '';
    Exit;
  end;
  if Count > (High(Integer) - 1) div 2 then
    raise EArgumentException.Create('Data is longer than the library takes');
  Text := '';
  SetLength(Text, 2 * Count + 1);
  KelLock;
  try
    Kel_BinToHex(@Data[0], PAnsiChar(Text), Count);
  finally
    KelUnlock;
  end;
  SetLength(Text, 2 * Count);
  Result := string(Text);
end;

function KelHexToBin(const Hex: string): TBytes;
var
  Ascii: RawByteString;
  I: Integer;
begin
  Ascii := AsciiBytes(Hex, 'hex');
  if Odd(Length(Ascii)) then
    raise EConvertError.CreateFmt('not hex digit pairs: %s', [Hex]);
  for I := 1 to Length(Ascii) do
    if not (Ascii[I] in ['0'..'9', 'a'..'f', 'A'..'F']) then
      raise EConvertError.CreateFmt('not hex digit pairs: %s', [Hex]);
  Result := nil;
  SetLength(Result, Length(Ascii) div 2);
  if Length(Result) = 0 then
    Exit;
  KelLock;
  try
    Kel_HexToBin(@Result[0], PAnsiChar(Ascii), Length(Ascii));
  finally
    KelUnlock;
  end;
end;

initialization
{$IFDEF FPC}
  InitCriticalSection(CallLock);
{$ELSE}
  CallLock := TCriticalSection.Create;
{$ENDIF}

finalization
{$IFDEF FPC}
  DoneCriticalSection(CallLock);
{$ELSE}
  CallLock.Free;
{$ENDIF}

end.
