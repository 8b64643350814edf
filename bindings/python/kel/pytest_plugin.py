"""pytest fixtures for programs that use Kel (registered when kel is
installed): ``kel_seal_server``, the reference seal server for the session.

Configure with environment variables: KEL_SEAL_SERVER (the program),
KEL_SERVER_KEY (its private key; by default the development key of the
source tree the program was built in), KEL_LIBRARY (the library to load).
"""

import pytest

from .testing import SealServer


@pytest.fixture(scope="session")
def kel_seal_server(tmp_path_factory):
    """A running kel-seal-server (kel.testing.SealServer) with seal S-1 of
    "Acme Ltd" valid and fault hooks on; its ``url`` is the server's URL.

    Unless the test session loaded libkel already, the fixture loads it
    ($KEL_LIBRARY) from a copy beside the server's public key, as
    ``pubkey.key``, so that the library verifies this server's answers."""
    with SealServer() as server:
        server.load_library(str(tmp_path_factory.mktemp("kel-library")))
        yield server
