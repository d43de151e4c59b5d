"""pip's way in: the extension built by the project's own CMake (the library linked in),
the package's Python files beside it. Needs CMake, a C++17 compiler, Highway's headers
and pybind11; with Debian's packages and no network:
    pip install --no-build-isolation --no-index .
"""
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
VERSION = re.search(r"project\(graybmp VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        import pybind11

        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
             "-DGRAYBMP_PYTHON=ON", "-DGRAYBMP_TESTS=OFF",
             f"-DPython3_EXECUTABLE={sys.executable}", f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"],
            check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "_graybmp",
                        "-j", str(os.cpu_count() or 2)], check=True)
        built = build / "python" / "graybmp" / ("_graybmp" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=VERSION,
    packages=["graybmp"],
    package_dir={"": "python"},
    package_data={"graybmp": ["py.typed", "_graybmp.pyi"]},
    ext_modules=[Extension("graybmp._graybmp", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
