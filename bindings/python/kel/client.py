"""An idiomatic wrapper over libkel's exports."""

import ctypes
import os
import threading
from dataclasses import dataclass

from . import _native
from ._messages import MESSAGES

# The library keeps one last-error text per process, not per thread: between
# one thread's failing call and its read of the text, another thread's call
# may replace or empty it. Every call below holds this lock from the call to
# the read, so that a failure carries its own message and a verdict its own
# description.
_CALL_LOCK = threading.RLock()
_library = None
_library_path = None
# The file that the loaded library is a copy of (see kel.testing), if any.
_library_origin = None


def _renew_lock_in_child():
    # A child made by os.fork() has only the thread that forked: a lock that
    # another thread held mid-call at that moment would stay held for ever.
    global _CALL_LOCK
    _CALL_LOCK = threading.RLock()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_renew_lock_in_child)

# The most bytes a length of the C API (an int) can give.
_INT_MAX = 2**31 - 1

# The code page of the library's texts.
GBK = "gbk"
# The message of a timestamp that does not verify.
_TIMESTAMP_INVALID = next(raw for raw, (code, _) in MESSAGES.items() if code == "KEL_MSG_TIMESTAMP_INVALID")


class KelError(Exception):
    """A call of the library failed.

    ``function`` names the export, ``raw`` holds the library's message as
    GBK bytes and ``message`` the same text decoded. ``code`` is the
    message's symbolic name in kel/kel_messages.h (``"KEL_MSG_SERVER_UNREACHABLE"``)
    and ``meaning`` its meaning in English, for a program to act on; both are
    None for a text that is none of the library's messages.
    """

    def __init__(self, function, raw):
        self.function = function
        self.raw = raw
        self.message = raw.decode(GBK, "replace")
        self.code, self.meaning = MESSAGES.get(raw, (None, None))
        text = self.message or "no reason given"
        if self.code is not None:
            text += " (%s: %s)" % (self.code, self.meaning)
        super().__init__("%s failed: %s" % (function, text))


@dataclass(frozen=True)
class Verdict:
    """The server's verdict on a seal: 0 means valid."""

    status: int
    description: str

    @property
    def valid(self):
        return self.status == 0


@dataclass(frozen=True)
class ServerTime:
    """A time signed by the server over a content text."""

    time: str
    signature: str


def load(path=None):
    """Loads libkel now, from `path` (else $KEL_LIBRARY, else the loader's
    search path: ``libkel.so.1``, ``Kel.dll``). The library reads its server
    key ``pubkey.key`` when it is loaded: from its own folder, else from the
    current one. Calls load it on first use when this was not called.
    A process loads the library once: `path` naming another file than the
    one loaded raises RuntimeError."""
    global _library, _library_path
    with _CALL_LOCK:
        if _library is None:
            _library, _library_path = _native.open_library(path)
        elif path is not None and not any(
            _same_file(path, loaded) for loaded in (_library_path, _library_origin) if loaded
        ):
            raise RuntimeError(
                "libkel is loaded already, from %s; a process loads it once, so %s is not loaded"
                % (_library_path, path)
            )
        return _library


def _same_file(one, other):
    try:
        return os.path.samefile(one, other)
    except OSError:
        return os.path.abspath(one) == os.path.abspath(other)


def _lib():
    return _library if _library is not None else load()


def _text(value, name):
    """A text argument as the bytes the library reads: str is encoded as GBK
    (a character GBK has not got raises UnicodeEncodeError), bytes are taken
    as they are, anything else raises TypeError. A zero byte would silently
    end the text early, so that another seal or content than the one given
    would be sent: refused."""
    if value is None:
        value = b""
    if isinstance(value, str):
        data = value.encode(GBK)
    elif isinstance(value, (bytes, bytearray)):
        data = bytes(value)
    else:
        # bytes(5) would send five zero bytes.
        raise TypeError("%s must be str or bytes, not %s" % (name, type(value).__name__))
    if b"\0" in data:
        raise ValueError("%s holds a zero character, which would cut the text short" % name)
    return data


def _take_text(library, address):
    """The text in a buffer the library handed out, which is then released."""
    if not address:
        return b""
    try:
        return ctypes.string_at(address)
    finally:
        library.Kel_ReleaseBuf(address)


def _last_error(library):
    return _take_text(library, library.Kel_GetLastErr())


def _decode(data):
    return data.decode(GBK, "replace")


def _clear_last_error(library):
    # Kel_BinToHex with a count of 0 writes nothing and empties the last error.
    library.Kel_BinToHex(b"", None, 0)


class Client:
    """The server transactions against one seal server URL."""

    def __init__(self, url):
        self.url = url
        self._url = _text(url, "url")

    def verify_seal(self, name, seal_id, time=None, type_zero=True):
        """Asks the server whether the seal `seal_id` of `name` is valid.
        `time` is sent as given (default: the local time). Returns a Verdict;
        raises KelError when no verdict could be read."""
        name, seal_id = _text(name, "name"), _text(seal_id, "seal_id")
        time = _text(time if time is not None else local_time(), "time")
        status = ctypes.c_int(1)
        with _CALL_LOCK:
            library = _lib()
            result = library.Kel_VerifySeal(
                self._url, name, seal_id, time, 1 if type_zero else 0, ctypes.byref(status)
            )
            text = _last_error(library)
        if result != 0:
            raise KelError("Kel_VerifySeal", text)
        return Verdict(status.value, _decode(text))

    def send_seal_record(self, user, seal_id, remark=""):
        """Reports one use of a seal; returns the server's result text."""
        user, seal_id, remark = _text(user, "user"), _text(seal_id, "seal_id"), _text(remark, "remark")
        buffer = ctypes.c_void_p()
        with _CALL_LOCK:
            library = _lib()
            result = library.Kel_SendSealRecord(user, seal_id, remark, self._url, ctypes.byref(buffer))
            if result != 0:
                raise KelError("Kel_SendSealRecord", _last_error(library))
            return _decode(_take_text(library, buffer.value))

    def server_time(self, content):
        """Obtains a time signed by the server over `content`."""
        content = _text(content, "content")
        time, signature = ctypes.c_void_p(), ctypes.c_void_p()
        with _CALL_LOCK:
            library = _lib()
            result = library.Kel_GetServerTime(
                ctypes.byref(time), ctypes.byref(signature), content, self._url
            )
            # On some failures both buffers were handed out all the same.
            time_text = _take_text(library, time.value)
            signature_text = _take_text(library, signature.value)
            if result != 0:
                raise KelError("Kel_GetServerTime", _last_error(library))
        return ServerTime(_decode(time_text), _decode(signature_text))


def local_time():
    """The local clock's time as the library formats it (YYYY-MM-DD hh:mm:ss)."""
    time = ctypes.c_void_p()
    with _CALL_LOCK:
        library = _lib()
        result = library.Kel_GetServerTime(ctypes.byref(time), None, None, None)
        text = _take_text(library, time.value)
        if result != 0:
            raise KelError("Kel_GetServerTime", _last_error(library))
    return _decode(text)


def verify_timestamp(content, time, signature):
    """Checks locally that `signature` is the server's over `content`
    followed by `time`. True when it verifies, False when it does not;
    raises KelError when it cannot be checked (no pubkey.key, for one)."""
    args = (_text(content, "content"), _text(time, "time"), _text(signature, "signature"))
    with _CALL_LOCK:
        library = _lib()
        # Kel_VerifyTimeStamp keeps an earlier message: empty it first, so
        # that the reason read below is this call's.
        _clear_last_error(library)
        if library.Kel_VerifyTimeStamp(*args) == 0:
            return True
        reason = _last_error(library)
    if reason == _TIMESTAMP_INVALID:
        return False
    raise KelError("Kel_VerifyTimeStamp", reason)


def random_string():
    """A fresh random string of 16 letters and digits."""
    with _CALL_LOCK:
        library = _lib()
        address = library.Kel_GetRadomString()
        if not address:
            raise KelError("Kel_GetRadomString", _last_error(library))
        return _decode(_take_text(library, address))


def _binary(value, name):
    """Bytes-like `value` as bytes, checked against the C API's int lengths
    before anything is copied (a longer input would be cut short)."""
    try:
        size = memoryview(value).nbytes
    except TypeError:
        raise TypeError("%s must be bytes-like, not %s" % (name, type(value).__name__)) from None
    if size > _INT_MAX:
        raise OverflowError("%s has %d bytes; the library takes at most %d" % (name, size, _INT_MAX))
    return bytes(value)


def _aes(function_name, data, key):
    data, key = _binary(data, "data"), _binary(key, "key")
    length = ctypes.c_int(0)
    with _CALL_LOCK:
        library = _lib()
        function = getattr(library, function_name)
        address = function(data, len(data), key, len(key), ctypes.byref(length))
        if not address:
            raise KelError(function_name, _last_error(library))
        try:
            if length.value < 0:
                raise KelError(function_name, b"")
            return ctypes.string_at(address, length.value)
        finally:
            library.Kel_ReleaseBuf(address)


def aes_encrypt(data, key):
    """Encrypts bytes under a key of 16, 24 or 32 bytes."""
    return _aes("Kel_AESEncryption", data, key)


def aes_decrypt(data, key):
    """Decrypts what aes_encrypt produced under the same key."""
    return _aes("Kel_AESDecryption", data, key)
