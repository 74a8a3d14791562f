"""Installs the Python package qkxdr, its extension built by the project's
own CMake build (no network needed):

    python3 -m pip install --no-build-isolation ./python
"""

import pathlib
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    """Builds qkxdr._qkxdr with CMake, as ./build.sh python does."""

    def build_extension(self, ext: Extension) -> None:
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DQKXDR_PYTHON=ON",
                        "-DQKXDR_BUILD_TESTS=OFF", "-DQKXDR_BUILD_TOOL=OFF",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "qkxdr_python"], check=True)
        built = build / "python" / "qkxdr" / ("_qkxdr" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)


setup(
    name="qkxdr",
    version="1.1.0.4",
    description="QkXDR typed values in binary and UTF-16 text, for Python and Dask",
    packages=["qkxdr"],
    package_data={"qkxdr": ["*.pyi", "py.typed"]},
    ext_modules=[Extension("qkxdr._qkxdr", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    extras_require={"numpy": ["numpy"], "dask": ["dask[bag]", "distributed"]},
)
