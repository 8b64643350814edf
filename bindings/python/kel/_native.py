"""The fourteen exports of libkel with their ctypes signatures.

Every function gets its argtypes and restype: ctypes would otherwise pass
and return C ints, which cuts a returned 64-bit pointer to 32 bits (and the
buffer then cannot be read or released). Buffers the library returns are
kept as plain addresses (c_void_p) so that they can be handed back to
Kel_ReleaseBuf; c_char_p would copy them into Python and lose the address.
"""

import ctypes
import os
import sys

from ctypes import POINTER, c_char_p, c_int, c_uint, c_void_p

# name: (restype, argtypes)
SIGNATURES = {
    "Kel_ReleaseBuf": (c_int, [c_void_p]),
    "Kel_GetLastErr": (c_void_p, []),
    "Kel_SendSealRecord": (c_int, [c_char_p, c_char_p, c_char_p, c_char_p, POINTER(c_void_p)]),
    "Kel_VerifySeal": (c_int, [c_char_p, c_char_p, c_char_p, c_char_p, c_int, POINTER(c_int)]),
    "Kel_GetServerTime": (c_int, [POINTER(c_void_p), POINTER(c_void_p), c_char_p, c_char_p]),
    "Kel_VerifyTimeStamp": (c_int, [c_char_p, c_char_p, c_char_p]),
    "Kel_to64frombits": (None, [c_void_p, c_char_p, c_int]),
    "Kel_from64tobits": (c_int, [c_void_p, c_char_p, c_int]),
    "Kel_GetCiphertext": (c_int, [c_char_p, POINTER(c_void_p)]),
    "Kel_BinToHex": (c_int, [c_char_p, c_void_p, c_uint]),
    "Kel_HexToBin": (c_int, [c_void_p, c_char_p, c_uint]),
    "Kel_GetRadomString": (c_void_p, []),
    "Kel_AESEncryption": (c_void_p, [c_char_p, c_int, c_char_p, c_int, POINTER(c_int)]),
    "Kel_AESDecryption": (c_void_p, [c_char_p, c_int, c_char_p, c_int, POINTER(c_int)]),
}


def default_library_name():
    """The file the system's loader is asked for when no path is given."""
    if sys.platform == "win32":
        return "Kel.dll"
    return "libkel.so.1"


def open_library(path=None):
    """Loads libkel from `path`, $KEL_LIBRARY, or the loader's search path;
    the library and the path it was loaded from."""
    path = path or os.environ.get("KEL_LIBRARY") or default_library_name()
    # 32-bit Kel.dll uses stdcall (WinDLL); elsewhere the C convention.
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    try:
        library = loader(path)
    except OSError as error:
        raise OSError(
            "cannot load libkel from %s (%s): set KEL_LIBRARY to the library's file, or call "
            "kel.load(path) before any other call" % (path, error)
        ) from error
    for name, (restype, argtypes) in SIGNATURES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library, path
