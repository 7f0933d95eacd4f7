"""Descriptor: the F-X-Y triple and its code FXXYYY."""

import pytest

from _quorvel import Descriptor


class Index:
    """An integer-like object that is not an int."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(
    "fxy, code, text",
    [
        ((0, 1, 1), 1001, "Descriptor(001001)"),
        ((3, 7, 80), 307080, "Descriptor(307080)"),
        ((0, 0, 0), 0, "Descriptor(000000)"),
        ((0, 0, 1), 1, "Descriptor(000001)"),
        ((1, 0, 0), 100000, "Descriptor(100000)"),
        # No check that F is at most 3 or X at most 63.
        ((9, 99, 255), 999255, "Descriptor(999255)"),
        ((0, 64, 0), 64000, "Descriptor(064000)"),
        ((255, 255, 255), 25755255, "Descriptor(25755255)"),
        ((10, 0, 0), 1000000, "Descriptor(1000000)"),
    ],
)
def test_construction(fxy, code, text):
    descriptor = Descriptor(*fxy)
    assert (descriptor.f, descriptor.x, descriptor.y) == fxy
    assert descriptor.fxy == code
    assert repr(descriptor) == text
    assert str(descriptor) == text
    values = (descriptor.f, descriptor.x, descriptor.y, descriptor.fxy)
    assert all(type(value) is int for value in values)


@pytest.mark.parametrize(
    "code, fxy",
    [
        (301011, (3, 1, 11)),
        (1001, (0, 1, 1)),
        (0, (0, 0, 0)),
        (363255, (3, 63, 255)),
        # X is never checked; F and Y keep their low eight bits.
        (99000, (0, 99, 0)),
        (1999, (0, 1, 231)),
        (1256, (0, 1, 0)),
        (25600000, (0, 0, 0)),
        (25700999, (1, 0, 231)),
        (4294967295, (197, 67, 39)),
    ],
)
def test_from_fxy(code, fxy):
    descriptor = Descriptor.from_fxy(code)
    assert type(descriptor) is Descriptor
    assert (descriptor.f, descriptor.x, descriptor.y) == fxy
    assert descriptor.fxy == fxy[0] * 100000 + fxy[1] * 1000 + fxy[2]


def test_from_fxy_keeps_low_eight_bits_of_y_in_repr():
    descriptor = Descriptor.from_fxy(1999)
    assert descriptor.fxy == 1231
    assert repr(descriptor) == "Descriptor(001231)"


def test_keywords():
    assert Descriptor(f=3, x=1, y=11).fxy == 301011
    assert Descriptor(3, y=11, x=1).fxy == 301011
    assert Descriptor.from_fxy(code=301011).fxy == 301011


def test_index_objects_and_bools_count_as_int():
    assert Descriptor(Index(3), Index(7), Index(80)).fxy == 307080
    assert Descriptor.from_fxy(Index(301011)).fxy == 301011
    assert Descriptor(True, False, True).fxy == 100001
    descriptor = Descriptor.from_fxy(True)
    assert (descriptor.f, descriptor.x, descriptor.y) == (0, 0, 1)


BAD_TYPES = ["1", 1.0, None, b"\x01", [1]]


@pytest.mark.parametrize("value", BAD_TYPES, ids=repr)
@pytest.mark.parametrize("position, name", [(0, "f"), (1, "x"), (2, "y")])
def test_constructor_type_error_names_the_argument(position, name, value):
    args = [0, 1, 1]
    args[position] = value
    with pytest.raises(TypeError) as info:
        Descriptor(*args)
    assert str(info.value).startswith(f"argument '{name}': ")


@pytest.mark.parametrize("value", BAD_TYPES, ids=repr)
def test_from_fxy_type_error_names_code(value):
    with pytest.raises(TypeError) as info:
        Descriptor.from_fxy(value)
    assert str(info.value).startswith("argument 'code': ")


def test_first_bad_argument_is_named():
    with pytest.raises(TypeError) as info:
        Descriptor(0, "x", "y")
    assert str(info.value).startswith("argument 'x': ")


@pytest.mark.parametrize(
    "value", [256, -1, 2**63, 2**64, -(2**70), Index(256), Index(-1)], ids=repr
)
@pytest.mark.parametrize("position, name", [(0, "f"), (1, "x"), (2, "y")])
def test_constructor_out_of_range(position, name, value):
    args = [0, 1, 1]
    args[position] = value
    with pytest.raises(OverflowError) as info:
        Descriptor(*args)
    assert str(info.value).startswith(f"argument '{name}': ")


@pytest.mark.parametrize("value", [2**32, -1, 2**64, -(2**64), 2**100, Index(2**32)], ids=repr)
def test_from_fxy_out_of_range(value):
    with pytest.raises(OverflowError) as info:
        Descriptor.from_fxy(value)
    assert str(info.value).startswith("argument 'code': ")


@pytest.mark.parametrize(
    "call",
    [
        lambda: Descriptor(),
        lambda: Descriptor(0, 1),
        lambda: Descriptor(0, 1, 1, 1),
        lambda: Descriptor(0, 1, 1, z=1),
        lambda: Descriptor(0, 1, f=1),
        lambda: Descriptor.from_fxy(),
        lambda: Descriptor.from_fxy(1, 2),
        lambda: Descriptor.from_fxy(fxy=1),
    ],
)
def test_argument_count_and_names(call):
    with pytest.raises(TypeError):
        call()


def test_no_equality_hash_or_order_of_its_own():
    for name in ("__eq__", "__ne__", "__hash__", "__lt__", "__le__", "__gt__", "__ge__"):
        assert name not in vars(Descriptor)
    first, second = Descriptor(0, 1, 1), Descriptor(0, 1, 1)
    assert first == first
    assert not first == second
    assert first != second
    assert len({first, second}) == 2
    with pytest.raises(TypeError):
        first < second


@pytest.mark.parametrize("name", ["f", "x", "y", "fxy"])
def test_attributes_are_read_only(name):
    descriptor = Descriptor(3, 1, 11)
    with pytest.raises(AttributeError):
        setattr(descriptor, name, 1)
    with pytest.raises(AttributeError):
        delattr(descriptor, name)
    assert descriptor.fxy == 301011


def test_no_new_attributes():
    with pytest.raises(AttributeError):
        Descriptor(0, 0, 0).extra = 1
