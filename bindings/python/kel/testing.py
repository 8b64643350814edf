"""The reference seal server, kel-seal-server, run for tests.

    with SealServer(valid_seals={"S-1": "Acme Ltd"}) as server:
        kel.Client(server.url).verify_seal("Acme Ltd", "S-1")

The pytest plugin (kel.pytest_plugin) offers one as the fixture
``kel_seal_server``.
"""

import os
import shutil
import subprocess
import threading
import urllib.parse

# The development key pair of Kel's source tree: its private half signs, the
# public half is the library's built-in key and the development pubkey.key.
# Never deploy it: its private half is public.
DEV_KEY = "dev-only-document-server-key.pem"


def _development_key(binary):
    """The development key beside an installed `binary`
    (PREFIX/share/kel/dev-keys), or that of the source tree it was built in
    (build/<preset>/bin/kel-seal-server); None when neither is there."""
    bin_dir = os.path.dirname(os.path.abspath(binary))
    prefix = os.path.dirname(bin_dir)
    for key in (
        os.path.join(prefix, "share", "kel", "dev-keys", "dev-only-server-key.pem"),
        os.path.join(os.path.dirname(os.path.dirname(prefix)), "tests", "fixtures", DEV_KEY),
    ):
        if os.path.isfile(key):
            return key
    return None


class SealServer:
    """kel-seal-server on a loopback port chosen by the system.

    binary: the program ($KEL_SEAL_SERVER, else kel-seal-server on PATH).
    key: its private key in PEM form ($KEL_SERVER_KEY, else the development
      key installed beside the binary or of the source tree it was built in).
    valid_seals: {seal id: holder name} that it answers as valid.
    test_hooks: honour fault=, delay_ms= and result= in requests (url_for).
    """

    def __init__(self, binary=None, key=None, valid_seals=None, test_hooks=True, extra_args=()):
        self.binary = binary or os.environ.get("KEL_SEAL_SERVER") or shutil.which("kel-seal-server")
        if not self.binary:
            raise RuntimeError("kel-seal-server not found: set KEL_SEAL_SERVER or put it on PATH")
        self.key = key or os.environ.get("KEL_SERVER_KEY") or _development_key(self.binary)
        if not self.key:
            raise RuntimeError("no server key: set KEL_SERVER_KEY to a PEM private key")
        self.valid_seals = dict(valid_seals if valid_seals is not None else {"S-1": "Acme Ltd"})
        self.test_hooks = test_hooks
        self.extra_args = list(extra_args)
        self.url = None
        self._process = None
        self._output = []

    @property
    def public_key_path(self):
        """The public half, for pubkey.key: NAME.pub or pubkey.key beside the
        key, or None."""
        for path in (os.path.splitext(self.key)[0] + ".pub", os.path.join(os.path.dirname(self.key), "pubkey.key")):
            if os.path.isfile(path):
                return path
        return None

    def load_library(self, folder):
        """Loads libkel ($KEL_LIBRARY) from a copy in `folder` with this
        server's public key beside it as ``pubkey.key``, where the library
        reads it, so that document answers and timestamps verify against this
        server. Does nothing (and returns None) when the library is loaded
        already, KEL_LIBRARY is not set or the public key is not known."""
        from . import client

        source = os.environ.get("KEL_LIBRARY")
        public_key = self.public_key_path
        if client._library is not None or not source or not public_key:
            return None
        # The library and its crypto provider, which the loader finds beside it.
        source_dir = os.path.dirname(os.path.abspath(source))
        for name in os.listdir(source_dir):
            if name.startswith(("libkel.so", "libkestro.so")) or name.lower() in ("kel.dll", "kestro.dll"):
                shutil.copy(os.path.join(source_dir, name), folder)
        shutil.copy(public_key, os.path.join(folder, "pubkey.key"))
        library = client.load(os.path.join(folder, os.path.basename(source)))
        client._library_origin = source
        return library

    def url_for(self, fault=None, delay_ms=None, format=None, result=None):
        """The URL with a query that asks for a broken or late answer
        (needs test_hooks); faults are listed by kel-seal-server --help."""
        query = {
            name: value
            for name, value in (("fault", fault), ("delay_ms", delay_ms), ("format", format), ("result", result))
            if value is not None
        }
        return self.url + ("x?" + urllib.parse.urlencode(query) if query else "")

    def start(self, timeout=20):
        command = [self.binary, "--port", "0", "--key", self.key, "--encoding", "utf-8"]
        for seal_id, name in self.valid_seals.items():
            command += ["--valid-seal", "%s=%s" % (seal_id, name)]
        if self.test_hooks:
            command.append("--test-hooks")
        command += self.extra_args
        self._process = subprocess.Popen(
            command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL
        )
        ready = threading.Event()

        def read():
            for raw in self._process.stdout:
                line = raw.decode("utf-8", "replace").rstrip("\n")
                self._output.append(line)
                if line.startswith("listening on ") and not ready.is_set():
                    self.url = line[len("listening on "):]
                    ready.set()
            ready.set()

        threading.Thread(target=read, daemon=True).start()
        if not ready.wait(timeout) or self.url is None:
            self.stop()
            raise RuntimeError("kel-seal-server did not start:\n" + "\n".join(self._output))
        return self

    def stop(self):
        if self._process is not None:
            self._process.terminate()
            try:
                self._process.wait(10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
            self._process = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
