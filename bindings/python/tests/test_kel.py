import ctypes
import mmap
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import kel
import kel.testing
from kel import _messages as kel_messages
from kel import _native

# 张三 and 有效 (valid), and the library's messages as GBK bytes.
NAME = "\u5f20\u4e09"
UNREACHABLE = b"\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xA1"
DECRYPT_FAILED = b"\xBD\xE2\xC3\xDC\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3"

KEY = b"0123456789abcdef"


@pytest.fixture(scope="module")
def gbk_server():
    # A seal whose holder's name is Chinese: the server reads it from UTF-8
    # and speaks GBK to the library.
    with kel.testing.SealServer(valid_seals={"S-1": "Acme Ltd", "S-8": NAME}) as server:
        yield server


def test_every_export_has_its_signature(loaded_library):
    for name, (restype, argtypes) in _native.SIGNATURES.items():
        function = getattr(loaded_library, name)
        assert function.argtypes == argtypes, name
        assert function.restype is restype, name
    # Functions that hand out buffers return full-width addresses.
    for name in ("Kel_GetLastErr", "Kel_GetRadomString", "Kel_AESEncryption", "Kel_AESDecryption"):
        assert _native.SIGNATURES[name][0] is ctypes.c_void_p
    assert len(_native.SIGNATURES) == 14


@pytest.mark.parametrize(
    "name, seal_id, status, description",
    [
        ("Acme Ltd", "S-1", 0, "valid seal"),
        ("Acme Ltd", "S-404", 2, "unknown seal"),
        ("Other", "S-1", 3, None),
        (NAME, "S-8", 0, "valid seal"),
        (NAME.encode("gbk"), b"S-8", 0, "valid seal"),  # bytes go as they are
    ],
)
def test_verify_seal(gbk_server, name, seal_id, status, description):
    verdict = kel.Client(gbk_server.url).verify_seal(name, seal_id)
    assert verdict.status == status
    assert verdict.valid == (status == 0)
    if description is not None:
        assert verdict.description == description


def test_failures_raise_with_the_librarys_message(kel_seal_server):
    client = kel.Client(kel_seal_server.url_for(fault="empty-body"))
    with pytest.raises(kel.KelError) as failure:
        client.verify_seal("Acme Ltd", "S-1")
    assert failure.value.raw == UNREACHABLE
    assert failure.value.message == UNREACHABLE.decode("gbk")
    assert failure.value.function == "Kel_VerifySeal"
    # What a program can act on, beside the original text.
    assert failure.value.code == "KEL_MSG_SERVER_UNREACHABLE"
    assert failure.value.meaning == "the server cannot be reached"
    assert "the server cannot be reached" in str(failure.value)
    with pytest.raises(kel.KelError):
        client.send_seal_record("alice", "S-1")
    with pytest.raises(kel.KelError):
        client.server_time("contract 7")


@pytest.mark.parametrize(
    "text, error",
    [
        ("S-1\0S-404", ValueError),  # would be cut at the zero
        ("\U0001F600", UnicodeEncodeError),  # no GBK form
        (5, TypeError),  # bytes(5) would be five zero bytes
        (3.5, TypeError),
    ],
)
def test_unsafe_texts_are_refused_before_the_call(kel_seal_server, text, error):
    with pytest.raises(error):
        kel.Client(kel_seal_server.url).verify_seal("Acme Ltd", text)


def test_record_time_and_timestamp(kel_seal_server):
    client = kel.Client(kel_seal_server.url)
    assert client.send_seal_record("alice", "S-1", "contract 7") == "0,0,recorded"
    stamp = client.server_time("contract 7")
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", stamp.time)
    assert kel.verify_timestamp("contract 7", stamp.time, stamp.signature) is True
    assert kel.verify_timestamp("contract 8", stamp.time, stamp.signature) is False
    # A message left by an earlier failure does not pass for this call's.
    with pytest.raises(kel.KelError):
        kel.aes_decrypt(b"not a ciphertext", KEY)
    assert kel.verify_timestamp("contract 7", stamp.time, stamp.signature) is True


def test_local_helpers():
    assert re.fullmatch(r"[A-Za-z0-9]{16}", kel.random_string())
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", kel.local_time())
    data = b"secret\0text"
    assert kel.aes_decrypt(kel.aes_encrypt(data, KEY), KEY) == data
    # A ciphertext cut short always fails (under another key, the padding
    # checks out by chance about once in 256 runs).
    with pytest.raises(kel.KelError) as failure:
        kel.aes_decrypt(kel.aes_encrypt(data, KEY)[:-1], KEY)
    assert failure.value.raw == DECRYPT_FAILED


def test_every_message_of_the_header_has_its_code_and_meaning():
    header = (pathlib.Path(__file__).parents[3] / "include/kel/kel_messages.h").read_text()
    header = header.replace("\\\n", " ")
    texts = {}
    for name, value in re.findall(r'#define (KEL_MSG_\w+)\s+((?:"[^"]*"\s*)+)', header):
        escaped = "".join(re.findall(r'"([^"]*)"', value))
        texts[name] = bytes(int(byte, 16) for byte in re.findall(r"\\x([0-9A-F]{2})", escaped))
    rows = re.findall(r'X\(\w+,\s*(KEL_MSG_\w+),\s*"([^"]*)"', header)
    assert len(rows) == 13
    assert kel_messages.MESSAGES == {texts[name]: (name, meaning) for name, meaning in rows}


@pytest.mark.parametrize(
    "data, error",
    [
        (mmap.mmap(-1, 2**32 + 1), OverflowError),  # was cut to 1 byte
        (mmap.mmap(-1, 2**31), OverflowError),  # past a C int
        (5, TypeError),  # bytes(5) would be five zero bytes
    ],
)
def test_aes_refuses_what_the_c_api_cannot_take(data, error):
    # Refused before anything is copied: the mappings are never touched.
    with pytest.raises(error):
        kel.aes_encrypt(data, KEY)
    with pytest.raises(error):
        kel.aes_decrypt(data, KEY)


def test_a_child_forked_while_a_thread_is_in_a_call_can_call(kel_seal_server):
    # The thread holds the binding's lock through its late answer.
    waiting = threading.Thread(
        target=lambda: kel.Client(kel_seal_server.url_for(delay_ms=1500)).verify_seal("Acme Ltd", "S-1")
    )
    waiting.start()
    time.sleep(0.3)
    pid = os.fork()
    if pid == 0:
        try:
            valid = kel.Client(kel_seal_server.url).verify_seal("Acme Ltd", "S-1").valid
            os._exit(0 if valid and kel.random_string() else 1)
        finally:
            os._exit(2)
    waiting.join()
    deadline = time.monotonic() + 20
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            pytest.fail("the forked child blocked in its call")
        time.sleep(0.05)
    assert os.waitstatus_to_exitcode(status) == 0


def test_a_users_own_test_verifies_against_the_fixture(tmp_path):
    # As a user writes it: the fixture alone, with KEL_LIBRARY naming the
    # built library (whose folder has no pubkey.key).
    (tmp_path / "test_user.py").write_text(
        textwrap.dedent(
            """
            import kel

            def test_seal(kel_seal_server):
                assert kel.Client(kel_seal_server.url).verify_seal("Acme Ltd", "S-1").valid
            """
        )
    )
    run = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "test_user.py"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert run.returncode == 0, run.stdout + run.stderr


def test_the_library_is_loaded_once_and_its_absence_says_what_to_do(loaded_library, tmp_path):
    built = os.environ["KEL_LIBRARY"]
    assert kel.load() is loaded_library
    assert kel.load(built) is loaded_library  # the file the loaded copy was made from
    other = shutil.copy(built, tmp_path / "libkel.so.1")
    with pytest.raises(RuntimeError, match="loaded already"):
        kel.load(str(other))
    missing = subprocess.run(
        [sys.executable, "-c", "import kel; kel.random_string()"],
        env=dict(os.environ, KEL_LIBRARY=str(tmp_path / "none" / "libkel.so.1")),
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert "set KEL_LIBRARY" in missing.stderr and "kel.load(path)" in missing.stderr, missing.stderr


def test_the_readme_install_works_with_pip_alone(tmp_path):
    # A virtual environment has pip (and, before Python 3.12, setuptools
    # without wheel): the package builds all the same.
    source = shutil.copytree(pathlib.Path(__file__).parents[1], tmp_path / "source")
    subprocess.run([sys.executable, "-m", "venv", str(tmp_path / "env")], check=True, timeout=120)
    python = str(tmp_path / "env" / "bin" / "python")
    install = subprocess.run(
        [python, "-m", "pip", "install", "--no-build-isolation", "--no-index", str(source)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert install.returncode == 0, install.stdout + install.stderr
    check = subprocess.run(
        [python, "-c", "import kel, importlib.metadata as m; print(kel.__version__, "
         "[e.value for e in m.entry_points(group='pytest11')])"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert check.stdout.strip() == "%s ['kel.pytest_plugin']" % kel.__version__, check.stderr


def run_threads(count, work):
    errors = []

    def body(index):
        try:
            work(index)
        except Exception as error:  # reported below, with the thread's index
            errors.append("thread %d: %r" % (index, error))

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []


def test_concurrent_calls_read_their_own_last_error(kel_seal_server):
    # Failing decryptions race calls that empty the last error: each failure
    # must still carry its own message (without the lock, some read "").
    def local(index):
        for _ in range(300):
            if index % 2:
                with pytest.raises(kel.KelError) as failure:
                    kel.aes_decrypt(b"0123456789abcdef0123456789abcdef", KEY)
                assert failure.value.raw == DECRYPT_FAILED
            else:
                kel.random_string()

    run_threads(8, local)

    # Verdicts of valid and unknown seals: each description matches its status.
    client = kel.Client(kel_seal_server.url)
    expected = {0: "valid seal", 2: "unknown seal"}

    def verdicts(index):
        for _ in range(25):
            verdict = client.verify_seal("Acme Ltd", "S-1" if index % 2 else "S-404")
            assert verdict.description == expected[verdict.status]

    run_threads(6, verdicts)
