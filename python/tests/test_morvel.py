"""The Python package against the built library (MORVEL_LIBRARY)."""

import concurrent.futures
import os
import pathlib
import stat

import pytest

import morvel

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE = HERE.parent.parent / "examples" / "sample.pdf"


def junk(tmp_path):
    p = tmp_path / "junk.pdf"
    p.write_bytes(b"%PDF-1.4\nno objects at all\n")
    return p


@pytest.mark.parametrize("kind", [str, bytes, pathlib.Path])
def test_optimize_and_check_take_any_path_kind(tmp_path, kind):
    out = tmp_path / "out.pdf"
    src, dst = SAMPLE, out
    if kind is str:
        src, dst = str(src), str(dst)
    elif kind is bytes:
        src, dst = os.fsencode(src), os.fsencode(dst)
    morvel.optimize(src, dst)
    assert morvel.check(dst)
    assert morvel.check_reason(dst) is None
    assert not morvel.check(src)
    assert morvel.check_reason(src) == "/Linearized key missing in first object dictionary"


def test_compact_form_and_bytes_in_memory(tmp_path):
    data = SAMPLE.read_bytes()
    for compact in (False, True):
        out = tmp_path / "out.pdf"
        morvel.optimize(SAMPLE, out, object_streams=compact)
        assert morvel.optimize_bytes(data, object_streams=compact) == out.read_bytes()
    assert morvel.check_bytes(morvel.optimize_bytes(bytearray(data)))
    assert not morvel.check_bytes(data)


@pytest.mark.parametrize(
    "make, error, oserror",
    [
        (lambda t: t / "missing.pdf", morvel.MorvelError, FileNotFoundError),
        (lambda t: t, morvel.MorvelError, IsADirectoryError),
        (junk, morvel.NotAPDFError, None),
    ],
)
def test_input_failures(tmp_path, make, error, oserror):
    src = make(tmp_path)
    with pytest.raises(error) as info:
        morvel.optimize(src, tmp_path / "out.pdf")
    if oserror:
        assert isinstance(info.value, oserror)
        assert info.value.filename == src
        assert info.value.errno
    assert not (tmp_path / "out.pdf").exists()


def test_output_failures(tmp_path):
    with pytest.raises(FileNotFoundError) as info:
        morvel.optimize(SAMPLE, tmp_path / "none" / "out.pdf")
    assert isinstance(info.value, morvel.MorvelError)
    assert info.value.filename == tmp_path / "none" / "out.pdf"
    assert str(info.value) == "cannot open '%s' for writing" % (tmp_path / "none" / "out.pdf")
    if os.geteuid() != 0:
        locked = tmp_path / "locked"
        locked.mkdir()
        locked.chmod(stat.S_IRUSR | stat.S_IXUSR)
        with pytest.raises(PermissionError):
            morvel.optimize(SAMPLE, locked / "out.pdf")


def test_encrypted_and_signed_documents(tmp_path):
    encrypted = tmp_path / "enc.pdf"
    encrypted.write_bytes(
        b"%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
        b"2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
        b"3 0 obj\n<< /Type /Page /Parent 2 0 R >>\nendobj\n"
        b"4 0 obj\n<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>\nendobj\n"
        b"trailer\n<< /Size 5 /Root 1 0 R /Encrypt 4 0 R >>\n%%EOF\n"
    )
    with pytest.raises(morvel.EncryptedPDFError):
        morvel.optimize(encrypted, tmp_path / "out.pdf")
    signed = (
        b"%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] /SigFlags 3 >> >>\nendobj\n"
        b"2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
        b"3 0 obj\n<< /Type /Page /Parent 2 0 R /Annots [4 0 R] >>\nendobj\n"
        b"4 0 obj\n<< /FT /Sig /T (S) /Subtype /Widget /Rect [0 0 0 0] /P 3 0 R /V 5 0 R >>\nendobj\n"
        b"5 0 obj\n<< /Type /Sig /Filter /Adobe.PPKLite /ByteRange [0 1 2 3] /Contents <01> >>\nendobj\n"
        b"trailer\n<< /Size 6 /Root 1 0 R >>\n%%EOF\n"
    )
    with pytest.raises(morvel.SignedPDFError):
        morvel.optimize_bytes(signed)
    assert morvel.check_bytes(morvel.optimize_bytes(signed, allow_signed=True))


def test_check_raises_only_when_the_file_cannot_be_read(tmp_path):
    with pytest.raises(FileNotFoundError):
        morvel.check(tmp_path / "missing.pdf")
    assert morvel.check_reason(junk(tmp_path)) == "file '%s' is too small (27 bytes)" % junk(tmp_path)


def test_version():
    assert morvel.version() == "0.2.0" == morvel.__version__


def test_eight_threads_at_once(tmp_path):
    data = SAMPLE.read_bytes()
    want = morvel.optimize_bytes(data)
    bad = junk(tmp_path)

    def one(k):
        out = tmp_path / ("out%d.pdf" % k)
        morvel.optimize(SAMPLE, out)
        ok = out.read_bytes() == want and morvel.optimize_bytes(data) == want
        try:
            morvel.optimize(bad, out)
            return False
        except morvel.NotAPDFError as e:
            return ok and str(e) == "no valid PDF objects found in '%s'" % bad

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        assert all(pool.map(one, range(64)))
