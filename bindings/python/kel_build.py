"""The build backend of the kel package: builds its wheel with Python's
standard library alone, so that the package installs offline with nothing
but pip, wherever setuptools or wheel are missing:

    python3 -m pip install --no-build-isolation --no-index bindings/python

The package's metadata is kept here, in one place.
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile

_HERE = os.path.dirname(os.path.abspath(__file__))
_SUMMARY = "Python binding of Kel, the electronic-seal client library (libkel.so, Kel.dll)"
# The reference seal server as a pytest fixture (kel_seal_server), for the
# tests of programs that use Kel.
_ENTRY_POINTS = "[pytest11]\nkel = kel.pytest_plugin\n"


def _read(name):
    with open(os.path.join(_HERE, name), "rb") as source:
        return source.read()


def _version():
    text = _read(os.path.join("kel", "__init__.py")).decode("utf-8")
    return re.search(r'^__version__ = "([^"]+)"', text, re.M).group(1)


def _metadata(version):
    return (
        "Metadata-Version: 2.1\nName: kel\nVersion: %s\nSummary: %s\nLicense: MIT\n"
        "Requires-Python: >=3.8\nDescription-Content-Type: text/markdown\n\n" % (version, _SUMMARY)
    ).encode("utf-8") + _read("README.md")


def _sources():
    names = sorted(name for name in os.listdir(os.path.join(_HERE, "kel")) if name.endswith(".py"))
    return {"kel/" + name: _read(os.path.join("kel", name)) for name in names}


def _wheel(directory, files):
    """Writes a wheel of `files` (archive name: bytes) with its dist-info."""
    version = _version()
    info = "kel-%s.dist-info/" % version
    files = dict(files)
    files[info + "METADATA"] = _metadata(version)
    files[info + "WHEEL"] = b"Wheel-Version: 1.0\nGenerator: kel_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    files[info + "entry_points.txt"] = _ENTRY_POINTS.encode("utf-8")
    record = []
    for name, data in files.items():
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.append("%s,sha256=%s,%d" % (name, digest, len(data)))
    record.append(info + "RECORD,,")
    files[info + "RECORD"] = ("\n".join(record) + "\n").encode("utf-8")
    wheel_name = "kel-%s-py3-none-any.whl" % version
    with zipfile.ZipFile(os.path.join(directory, wheel_name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files.items():
            wheel.writestr(name, data)
    return wheel_name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _wheel(wheel_directory, _sources())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # The package is imported from this folder: a .pth file names it.
    return _wheel(wheel_directory, {"kel.pth": (_HERE + "\n").encode("utf-8")})


def build_sdist(sdist_directory, config_settings=None):
    base = "kel-%s" % _version()
    files = dict(_sources())
    for name in ("README.md", "pyproject.toml", "kel_build.py"):
        files[name] = _read(name)
    files["PKG-INFO"] = _metadata(_version())
    sdist_name = base + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, sdist_name), "w:gz") as sdist:
        for name, data in files.items():
            entry = tarfile.TarInfo("%s/%s" % (base, name))
            entry.size = len(data)
            sdist.addfile(entry, io.BytesIO(data))
    return sdist_name
