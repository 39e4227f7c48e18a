#!/usr/bin/env python3
"""Checks a Windows bundle zip before it goes to a host.

It must hold exactly the expected files under one top folder: LV_zolt.dll
for the right machine, exporting the header's 24 names, importing zolt.dll
and no compiler runtime, carrying the project version in its version
resource; the header as in the source tree; the .def of the 24 names; the
import library; the CMake and pkg-config files; the reference; the
host-setup text; and the simulated zolt.dll only in its own folder, built for
the same machine and providing the 24 driver operations. Prints every
problem and exits 1; exits 2 on a bad command line or an unreadable zip.
"""

import argparse
import re
import sys
import zipfile
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools" / "interface"))
import header as header_reader  # noqa: E402

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}

SIMULATOR_FOLDER = "simulated-driver-NOT-FOR-PRODUCTION"
COMPILER_RUNTIMES = re.compile(r"^(libgcc_s_|libstdc\+\+-|libwinpthread-)", re.I)


def expected_files(import_library):
    return {
        "bin/LV_zolt.dll",
        "include/LV_zolt.h",
        import_library,
        "lib/LV_zolt.def",
        "lib/cmake/LV_zolt/LV_zoltConfig.cmake",
        "lib/cmake/LV_zolt/LV_zoltConfigVersion.cmake",
        "lib/pkgconfig/LV_zolt.pc",
        "share/doc/LV_zolt/exports.md",
        "HOST-SETUP.txt",
        f"{SIMULATOR_FOLDER}/zolt.dll",
        f"{SIMULATOR_FOLDER}/README.txt",
        f"{SIMULATOR_FOLDER}/zolt_simulator.h",
    }


def read_image(data):
    """Machine, exported names, imported DLLs and file version (or None) of a
    PE image."""
    image = pefile.PE(data=data, fast_load=True)
    image.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY[d] for d in (
        "IMAGE_DIRECTORY_ENTRY_EXPORT", "IMAGE_DIRECTORY_ENTRY_IMPORT",
        "IMAGE_DIRECTORY_ENTRY_RESOURCE")])
    machine = image.FILE_HEADER.Machine
    exports = [s.name.decode("ascii") for s in getattr(
        getattr(image, "DIRECTORY_ENTRY_EXPORT", None), "symbols", []) if s.name]
    dlls = [i.dll.decode("ascii") for i in getattr(image, "DIRECTORY_ENTRY_IMPORT", [])]
    version = None
    if getattr(image, "VS_FIXEDFILEINFO", None):
        fixed = image.VS_FIXEDFILEINFO[0]
        version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    return MACHINES.get(machine, hex(machine)), exports, dlls, version


def check_image(label, data, machine, problems):
    try:
        built_for, exports, dlls, version = read_image(data)
    except (pefile.PEFormatError, ValueError, IndexError, AttributeError) as error:
        problems.append(f"{label}: not a readable PE image ({error})")
        return None
    if built_for != machine:
        problems.append(f"{label}: built for {built_for}, not {machine}")
    for dll in dlls:
        if COMPILER_RUNTIMES.match(dll):
            problems.append(f"{label}: imports the compiler runtime {dll}, which hosts lack")
    return exports, dlls, version


def check(zip_path, machine, version, header_path):
    problems = []
    header_text = Path(header_path).read_bytes()
    declared = header_reader.parse(header_text.decode("utf-8"), str(header_path))
    names = {e.name for e in declared}
    try:
        bundle = zipfile.ZipFile(zip_path)
    except (OSError, zipfile.BadZipFile) as error:
        raise OSError(f"cannot read {zip_path}: {error}") from error

    with bundle:
        files = [i.filename for i in bundle.infolist() if not i.is_dir()]
        tops = {f.split("/", 1)[0] for f in files}
        top = Path(zip_path).stem
        if tops != {top}:
            problems.append(f"everything must lie under {top}/, found {sorted(tops)}")
        inside = {f.split("/", 1)[1] for f in files if "/" in f}
        libs = [f for f in inside if re.fullmatch(r"lib/(lib)?LV_zolt\.dll\.a|lib/LV_zolt\.lib", f)]
        want = expected_files(libs[0] if len(libs) == 1 else "lib/libLV_zolt.dll.a")
        for name in sorted(want - inside):
            problems.append(f"missing {name}")
        for name in sorted(inside - want):
            problems.append(f"unexpected {name}")

        def read(name):
            return bundle.read(f"{top}/{name}") if name in inside else None

        library = read("bin/LV_zolt.dll")
        if library is not None:
            result = check_image("bin/LV_zolt.dll", library, machine, problems)
            if result:
                exports, dlls, file_version = result
                if set(exports) != names or len(exports) != len(names):
                    problems.append(f"bin/LV_zolt.dll exports {sorted(set(exports) ^ names)} "
                                    "beyond or short of the header's names")
                if "zolt.dll" not in {d.lower() for d in dlls}:
                    problems.append(f"bin/LV_zolt.dll does not import zolt.dll: {dlls}")
                want_version = tuple(int(p) for p in version.split(".")) + (0,)
                if file_version != want_version[:4]:
                    problems.append(f"bin/LV_zolt.dll version resource {file_version}, "
                                    f"not {version}")

        simulator = read(f"{SIMULATOR_FOLDER}/zolt.dll")
        if simulator is not None:
            result = check_image(f"{SIMULATOR_FOLDER}/zolt.dll", simulator, machine, problems)
            if result:
                lacking = {n[len("LV_"):] for n in names} - set(result[0])
                if lacking:
                    problems.append(f"the simulated zolt.dll lacks {sorted(lacking)}")
        for name in sorted(n for n in inside if n.lower().rsplit("/", 1)[-1] == "zolt.dll"
                           and not n.startswith(SIMULATOR_FOLDER + "/")):
            problems.append(f"a zolt.dll outside {SIMULATOR_FOLDER}/: {name}")

        if read("include/LV_zolt.h") not in (None, header_text):
            problems.append("include/LV_zolt.h differs from the source tree's header")
        definition = read("lib/LV_zolt.def")
        if definition not in (None, header_reader.module_definition(declared, "LV_zolt.dll")
                              .encode()):
            problems.append("lib/LV_zolt.def differs from the one the header gives")
        for name in libs:
            if not read(name).startswith(b"!<arch>\n"):
                problems.append(f"{name} is not an import library archive")
        setup = read("HOST-SETUP.txt")
        if setup is not None:
            text = " ".join(setup.decode("utf-8").split())
            for needed in (version, "zolt.dll", "worker thread", SIMULATOR_FOLDER):
                if needed not in text:
                    problems.append(f"HOST-SETUP.txt does not mention {needed}")
        package = read("lib/cmake/LV_zolt/LV_zoltConfigVersion.cmake")
        if package is not None and f'PACKAGE_VERSION "{version}"' not in package.decode():
            problems.append("the CMake package version differs from the project version")
    return problems, len(files)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zip", required=True)
    parser.add_argument("--machine", required=True, choices=sorted(MACHINES.values()))
    parser.add_argument("--version", required=True)
    parser.add_argument("--header", required=True)
    args = parser.parse_args(argv)
    if not re.fullmatch(r"\d+\.\d+\.\d+", args.version):
        parser.error("--version must be MAJOR.MINOR.PATCH")
    try:
        problems, count = check(args.zip, args.machine, args.version, args.header)
    except (OSError, header_reader.HeaderError) as error:
        print(f"check_bundle: {error}", file=sys.stderr)
        return 2
    name = Path(args.zip).name
    for problem in problems:
        print(f"check_bundle: {name}: {problem}", file=sys.stderr)
    if not problems:
        print(f"check_bundle: {name}: {count} files as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
