import gc
import inspect
import re
import weakref

import pytest

from quorvel import Example


class Text(str):
    def __str__(self):
        return "not the text"


@pytest.mark.parametrize("text", ["abc", "", "a b", "żółw ✓ 🐢", "a\0b", "x" * 100_000])
def test_text_round_trip(text):
    for example in (Example(text), Example(value=text), Example(Text(text))):
        assert (str(example), repr(example)) == (text, f"Example<{text}>")
        assert type(str(example)) is type(repr(example)) is str


@pytest.mark.parametrize("value, error, message", [
    (1, TypeError, "'int' object is not an instance of 'str'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
    (b"abc", TypeError, "'bytes' object is not an instance of 'str'"),
    ("\ud800", UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
])
def test_value_refusals(value, error, message):
    with pytest.raises(error) as info:
        Example(value)
    assert (type(info.value), str(info.value)) == (error, message)
    assert info.value.__notes__ == ["while processing 'value'"]


def test_class_attributes():
    assert (Example.__module__, Example.__name__, Example.__qualname__) == ("builtins", "Example", "Example")
    assert Example.__bases__ == (object,)
    assert (Example.__text_signature__, str(inspect.signature(Example)), Example.__doc__) == ("(value)", "(value)", "")


def test_class_is_final():
    with pytest.raises(TypeError) as info:
        type("Derived", (Example,), {})
    assert str(info.value) == "type 'builtins.Example' is not an acceptable base type"


def test_instances_are_closed():
    example = Example("abc")
    assert not hasattr(example, "value") and not hasattr(example, "__dict__")
    assert not gc.is_tracked(example)
    for name in ("value", "x"):
        with pytest.raises(AttributeError) as info:
            setattr(example, name, "y")
        # The statement names the class and the attribute; 3.13 goes on to
        # say why ("... and no __dict__ for setting new attributes").
        message = str(info.value)
        assert re.match(rf"'builtins\.Example' object has no attribute '{name}'(?: and |$)", message), message
    with pytest.raises(TypeError) as info:
        weakref.ref(example)
    assert str(info.value) == "cannot create weak reference to 'builtins.Example' object"
    assert str(example) == "abc"


@pytest.mark.parametrize("change", [
    lambda: setattr(Example, "__str__", lambda self: "replaced"),
    lambda: setattr(Example, "extra", 1),
    lambda: delattr(Example, "__repr__"),
])
def test_class_cannot_be_changed(change):
    # One class object serves every interpreter in the process: none may
    # replace its methods.
    with pytest.raises(TypeError, match="immutable type"):
        change()
    assert (str(Example("a")), repr(Example("a"))) == ("a", "Example<a>")
