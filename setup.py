"""Builds quorvel for pip with this checkout's own CMake build.

There is one build description, CMakeLists.txt.  `build_ext` configures it for
the interpreter that runs pip (without the tests), builds the target
`quorvel` and copies the extension module to where setuptools packs it.  The
type stubs travel beside it as the stub-only package `quorvel-stubs`, where
mypy and pyright look for them.

The module links the C++ runtime statically (QUORVEL_STATIC_RUNTIME), so that
a wheel needs of the system only its C library and libgcc_s: CMakeLists.txt
says why that is safe, and .ci/release checks the wheels it makes against
the manylinux policy.

A pip or sdist build does not treat compiler warnings as errors, so that a
compiler which warns about something new still installs the module; the
developers' presets and CI do.  Options for the CMake configure step can be
added through the environment, and come after this file's own, for example
CMAKE_ARGS="-DQUORVEL_WERROR=ON" to fail on warnings here too;
CMAKE_BUILD_PARALLEL_LEVEL sets the number of build jobs.
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.install import install

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*quorvel\s+VERSION\s+([0-9][0-9.]*)", text)
    if found is None:
        raise RuntimeError("CMakeLists.txt has no project(quorvel VERSION ...) line")
    return found.group(1)


def configured_for(build_dir):
    """The interpreter a CMake build directory was configured for, as
    CMakeLists.txt records it there, or None."""
    recorded = build_dir / "python3-executable"
    return recorded.read_text(encoding="utf-8").strip() if recorded.is_file() else None


class CMakeExtension(Extension):
    """An extension whose sources are built by CMake, not by setuptools."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        destination = Path(self.get_ext_fullpath(ext.name)).resolve()
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake",
            "-S", str(ROOT),
            "-B", str(build_dir),
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DQUORVEL_TESTS=OFF",
            "-DQUORVEL_WERROR=OFF",
            "-DQUORVEL_STATIC_RUNTIME=ON",
            *shlex.split(os.environ.get("CMAKE_ARGS", "")),
        ]
        build = ["cmake", "--build", str(build_dir), "--target", "quorvel"]
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            build += ["--parallel", str(os.cpu_count() or 1)]
        # Two interpreters of one version (two venvs, say) share build_temp:
        # a build configured for another interpreter starts afresh.
        if build_dir.exists() and configured_for(build_dir) != sys.executable:
            shutil.rmtree(build_dir)
        subprocess.run(configure, check=True)
        subprocess.run(build, check=True)

        # CMake names the module with the interpreter's own suffix, as
        # setuptools does (quorvel.cpython-312-x86_64-linux-gnu.so).
        built = build_dir / "python" / destination.name
        if not built.is_file():
            raise RuntimeError(f"CMake did not build {built}")
        destination.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, destination)


class Install(install):
    """The standard install command, also under Debian's setuptools wheel.

    Debian patches setuptools to read the install options that Debian's own
    distutils adds; with any other CPython (a pyenv one, say) the wheel would
    fail to build without these defaults, which are those of Debian's.
    """

    def initialize_options(self):
        super().initialize_options()
        for option in ("install_layout", "prefix_option", "multiarch"):
            if not hasattr(self, option):
                setattr(self, option, None)


setup(
    version=project_version(),
    ext_modules=[CMakeExtension("quorvel")],
    cmdclass={"build_ext": CMakeBuild, "install": Install},
    packages=["quorvel-stubs"],
    package_dir={"": "stubs"},
    package_data={"quorvel-stubs": ["__init__.pyi"]},
    # The changelog travels in the wheel too, installed beside the licence's
    # usual place for documents: <prefix>/share/doc/quorvel/.
    data_files=[("share/doc/quorvel", ["CHANGELOG.md", "LICENSE"])],
    zip_safe=False,
)
