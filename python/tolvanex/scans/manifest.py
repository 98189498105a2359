"""``scan.json``, the record of a scan in its folder: the grid it was made
for (base arguments, varied and fixed values or named cases, the trace
file's name), the program's and this package's paths, every run folder
with its values and arguments, a study's settings and the Slurm
submissions.  Read strictly here, written whole (`tolvanex.atomic`).

>>> read_manifest("/")
Traceback (most recent call last):
...
tolvanex.scans.manifest.NotAScan: / holds no scan (scan.json missing)
"""

from __future__ import annotations

import json
import os

from ..atomic import replaced_whole
from ..errors import InputError

MANIFEST = "scan.json"


class NotAScan(InputError, FileNotFoundError):
    """The folder holds no scan (no readable scan.json)."""


def manifest_path(folder: str) -> str:
    return os.path.join(folder, MANIFEST)


def read_manifest(folder: str) -> dict:
    """scan.json of a scan folder (those of earlier versions too): a record
    whose ``runs`` lists every run folder by name; NotAScan otherwise."""
    path = manifest_path(folder)
    try:
        with open(path, encoding="utf-8") as f:
            manifest = json.load(f)
    except FileNotFoundError:
        raise NotAScan(f"{folder} holds no scan ({MANIFEST} missing)") from None
    except (OSError, UnicodeDecodeError, ValueError) as e:
        raise NotAScan(f"{path} cannot be read: {e}") from None
    runs = manifest.get("runs") if isinstance(manifest, dict) else None
    if not isinstance(runs, list) or not all(
            isinstance(r, dict) and isinstance(r.get("folder"), str) for r in runs):
        raise NotAScan(f"{path} is not the record of a scan")
    return manifest


def write_manifest(folder: str, manifest: dict) -> None:
    """Write scan.json of a scan folder (whole, or not at all)."""
    with replaced_whole(manifest_path(folder)) as f:
        json.dump(manifest, f, indent=1)
        f.write("\n")


def run_entry(run_folder: str) -> tuple[dict, dict] | None:
    """The manifest of the scan a run folder belongs to and the folder's
    entry in it; None when the folder above holds no scan or its scan does
    not list this folder."""
    above = os.path.dirname(os.path.abspath(run_folder))
    if not os.path.exists(manifest_path(above)):
        return None
    manifest = read_manifest(above)
    name = os.path.basename(os.path.abspath(run_folder))
    entry = next((r for r in manifest["runs"] if r["folder"] == name), None)
    return None if entry is None else (manifest, entry)
