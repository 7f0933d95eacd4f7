"""The module's cache of tables chosen under definitions roots: hits, reloads
after a change on disk, the bound, threads sharing it; and TableSet pickling
for each way a TableSet is made."""

from __future__ import annotations

import os
import pickle
import threading
from pathlib import Path

import pytest

from _quorvel import TableSet, _table_cache_counts
from test_definitions import block_name, local_dir, message, select, write_master
from test_expansion_support import write_table_directory
from test_tables_bufr4 import B_HEADER, b_row, write_files

CAPACITY = _table_cache_counts()[1]


def loads() -> int:
    return _table_cache_counts()[2]


def moved_on(path: Path) -> None:
    """Moves the time of `path` an hour on, as a later edit would: two writes
    within one tick of the file-system clock can leave it unchanged."""
    later = os.stat(path).st_mtime_ns + 3600 * 10**9
    os.utime(path, ns=(later, later))


def test_a_hit_reads_nothing_and_gives_the_same_tables(tmp_path):
    write_master(tmp_path, 37)
    before = loads()
    first, second = select(tmp_path), select(tmp_path, centre=7, subcentre=3)
    assert loads() == before + 1
    assert (repr(second), block_name(second)) == (repr(first), "MASTER BLOCK 37")


def rewrite_master(root):
    write_master(root, 37, elements={1001: "EDITED BLOCK"})
    moved_on(Path(root) / "bufr/tables/0/wmo/37/element.table")


def add_local(root):
    write_table_directory(local_dir(root, 1), {1001: "EDITED BLOCK"})


@pytest.mark.parametrize("change", [rewrite_master, add_local])
def test_a_change_on_disk_is_read_again(tmp_path, change):
    write_master(tmp_path, 37)
    assert block_name(select(tmp_path, local_version=1)) == "MASTER BLOCK 37"
    before = loads()
    change(tmp_path)
    assert block_name(select(tmp_path, local_version=1)) == "EDITED BLOCK"
    assert block_name(select(tmp_path, local_version=1)) == "EDITED BLOCK"
    assert loads() == before + 1


def test_a_failed_load_is_kept_until_the_tables_appear(tmp_path):
    before = loads()
    for _ in range(2):
        with pytest.raises(ValueError, match="does not exist"):
            select(tmp_path)
    assert loads() == before + 1
    write_master(tmp_path, 37)
    assert block_name(select(tmp_path)) == "MASTER BLOCK 37"


def test_the_least_recently_used_entry_goes_past_the_bound(tmp_path):
    versions = range(CAPACITY + 1)
    for version in versions:
        write_master(tmp_path, version)
    before = loads()
    for version in versions:
        select(tmp_path, master_version=version)
    assert _table_cache_counts()[0] == CAPACITY
    select(tmp_path, master_version=versions[-1])
    assert loads() == before + len(versions)
    assert block_name(select(tmp_path, master_version=0)) == "MASTER BLOCK 0"
    assert loads() == before + len(versions) + 1


def test_threads_asking_at_once_load_once(tmp_path):
    write_master(tmp_path, 37)
    barrier = threading.Barrier(8)
    names: list = []

    def work() -> None:
        barrier.wait()
        names.append(block_name(select(tmp_path)))

    before = loads()
    threads = [threading.Thread(target=work) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert (names, loads()) == (["MASTER BLOCK 37"] * 8, before + 1)


def test_threads_hammering_more_keys_than_the_bound(tmp_path):
    versions = range(CAPACITY + 8)
    for version in versions:
        write_master(tmp_path, version)
    failures: list = []

    def work(seed: int) -> None:
        try:
            for step in range(200):
                version = (seed * 7 + step * 5) % len(versions)
                if block_name(select(tmp_path, master_version=version)) != \
                        f"MASTER BLOCK {version}":
                    failures.append((seed, version))
        except BaseException as error:  # noqa: BLE001 - reported below
            failures.append(error)

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert _table_cache_counts()[0] <= CAPACITY


# ---- Pickling ---------------------------------------------------------------------------

def empty(tmp_path):
    return TableSet()


def eccodes(tmp_path):
    return TableSet.from_eccodes(write_table_directory(tmp_path / "t", {1001: "BLOCK"}))


def bufr4(tmp_path):
    return TableSet.from_bufr4_45(
        write_files(tmp_path / "b", {"BUFRCREX_TableB_en_12.csv": B_HEADER + b_row()}))


def definitions(tmp_path):
    write_master(tmp_path, 37)
    write_table_directory(local_dir(tmp_path, 2, centre=300, subcentre=4), {1001: "LOCAL"})
    return TableSet.from_definitions(str(tmp_path),
                                     message(local_version=2, centre=300, subcentre=4))


def names(tables):
    return [None if element is None else element.name
            for element in map(tables.get_element, (1001, 12101))]


@pytest.mark.parametrize("make, expected", [
    (empty, [None, None]), (eccodes, ["BLOCK", None]), (bufr4, [None, "TEMPERATURE"]),
    (definitions, ["LOCAL", None])])
def test_pickling_makes_the_tables_again_from_their_source(tmp_path, make, expected):
    tables = make(tmp_path)
    before = loads()
    copy = pickle.loads(pickle.dumps(tables))
    assert (type(copy), repr(copy), names(copy)) == (TableSet, repr(tables), expected)
    assert loads() == before  # definitions come again from the cache
