"""Offline install of the Python host: pip install --no-index --no-build-isolation ./python

The shared libraries are found at run time (see wavecodec/native.py); set WAVECODEC_LIBRARY and
IBMFLOAT_LIBRARY, install them under the interpreter prefix's lib directory, or copy them next
to the installed package.
"""
from setuptools import setup

setup(
    name='wavecodec',
    version='1.0.0',
    description='GSE2.0 waveforms (CM6/INT) and IBM float conversion through ctypes',
    packages=['wavecodec'],
    package_data={'wavecodec': ['*.so', '*.so.*']},
    python_requires='>=2.7',
    entry_points={'console_scripts': ['wavecodec = wavecodec.cli:main']},
)
