"""A build backend made of the standard library alone: pip can install the package offline on a
machine without setuptools or wheel. Builds one pure-Python wheel of the wavecodec package with
the `wavecodec` console command.
"""
import base64
import hashlib
import os
import zipfile

NAME = 'wavecodec'
VERSION = '1.0.0'
TAG = 'py2.py3-none-any'
HERE = os.path.dirname(os.path.abspath(__file__))
DIST_INFO = '%s-%s.dist-info' % (NAME, VERSION)

METADATA = """Metadata-Version: 2.1
Name: {name}
Version: {version}
Summary: GSE2.0 waveforms (CM6/INT) and IBM float conversion through ctypes
Requires-Python: >=2.7
""".format(name=NAME, version=VERSION)

WHEEL = """Wheel-Version: 1.0
Generator: wavecodec build_backend
Root-Is-Purelib: true
Tag: {tag}
""".format(tag=TAG)

ENTRY_POINTS = """[console_scripts]
wavecodec = wavecodec.cli:main
"""


def _package_files():
    """(archive name, path) of every file of the package, compiled files left out."""
    top = os.path.join(HERE, NAME)
    found = []
    for directory, subdirs, files in os.walk(top):
        subdirs[:] = sorted(d for d in subdirs if d != '__pycache__')
        for name in sorted(files):
            if name.endswith(('.pyc', '.pyo')):
                continue
            path = os.path.join(directory, name)
            found.append((os.path.relpath(path, HERE).replace(os.sep, '/'), path))
    return found


def _record_entry(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode()
    return '%s,sha256=%s,%d' % (name, digest, len(data))


def _metadata_files():
    return [(DIST_INFO + '/METADATA', METADATA), (DIST_INFO + '/WHEEL', WHEEL),
            (DIST_INFO + '/entry_points.txt', ENTRY_POINTS)]


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    target = os.path.join(metadata_directory, DIST_INFO)
    if not os.path.isdir(target):
        os.makedirs(target)
    for name, text in _metadata_files():
        with open(os.path.join(metadata_directory, name), 'w') as f:
            f.write(text)
    return DIST_INFO


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    filename = '%s-%s-%s.whl' % (NAME, VERSION, TAG)
    final = os.path.join(wheel_directory, filename)
    partial = final + '.part'
    records = []
    with zipfile.ZipFile(partial, 'w', zipfile.ZIP_DEFLATED) as wheel:
        for name, path in _package_files():
            with open(path, 'rb') as f:
                data = f.read()
            wheel.writestr(name, data)
            records.append(_record_entry(name, data))
        for name, text in _metadata_files():
            data = text.encode('utf-8')
            wheel.writestr(name, data)
            records.append(_record_entry(name, data))
        records.append(DIST_INFO + '/RECORD,,')
        wheel.writestr(DIST_INFO + '/RECORD', '\n'.join(records) + '\n')
    os.rename(partial, final)
    return filename
