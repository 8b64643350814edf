# The binding's tests load a copy of the built library with the development
# pubkey.key beside it: KEL_TEST_LIBRARY names the built libkel.so.1, whose
# folder also holds libkestro.so.1. The server comes from the binding's own
# pytest plugin (kel_seal_server), configured by KEL_SEAL_SERVER.
import glob
import os
import shutil

import pytest

import kel


@pytest.fixture(scope="session", autouse=True)
def loaded_library(tmp_path_factory, kel_seal_server):
    built = os.environ.get("KEL_TEST_LIBRARY")
    if not built:
        pytest.fail("set KEL_TEST_LIBRARY to the built libkel.so.1")
    folder = tmp_path_factory.mktemp("lib")
    for path in glob.glob(os.path.join(os.path.dirname(built), "lib*.so*")):
        shutil.copy(path, folder)  # links are copied as the files they name
    shutil.copy(kel_seal_server.public_key_path, folder / "pubkey.key")
    return kel.load(str(folder / os.path.basename(built)))
