# The binding's tests run against the library that KEL_LIBRARY names (the
# built libkel.so.1, whose folder also holds libkestro.so.1) and the server
# of the binding's own pytest plugin (kel_seal_server, configured by
# KEL_SEAL_SERVER), which loads a copy of the library beside the server's
# public key.
import os

import pytest

import kel


@pytest.fixture(scope="session", autouse=True)
def loaded_library(kel_seal_server):
    if not os.environ.get("KEL_LIBRARY"):
        pytest.fail("set KEL_LIBRARY to the built libkel.so.1")
    return kel.load()
