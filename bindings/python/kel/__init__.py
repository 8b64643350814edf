"""Python binding of Kel, the electronic-seal client library.

Loads libkel (``libkel.so.1`` on Linux, ``Kel.dll`` on Windows) with ctypes
and wraps its exports::

    import kel
    client = kel.Client("http://127.0.0.1:8080/")
    verdict = client.verify_seal("Acme Ltd", "S-1")
    if verdict.valid: ...

Texts are sent as GBK and read back from GBK; failures raise KelError with
the library's message. Every call holds one process-wide lock together with
its read of the last-error text, which the library keeps once per process.
"""

from .client import (
    Client,
    KelError,
    ServerTime,
    Verdict,
    aes_decrypt,
    aes_encrypt,
    load,
    local_time,
    random_string,
    verify_timestamp,
)

__version__ = "1.0.0"

__all__ = [
    "Client",
    "KelError",
    "ServerTime",
    "Verdict",
    "aes_decrypt",
    "aes_encrypt",
    "load",
    "local_time",
    "random_string",
    "verify_timestamp",
]
