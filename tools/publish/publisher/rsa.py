"""RSA-2048 keys and RSASSA-PKCS1-v1_5 / SHA-256 signatures, in pure Python.

The launcher trusts one embedded public key in the PEM "PUBLIC KEY" form (X.509
SubjectPublicKeyInfo): for a 2048-bit modulus that text is exactly 451 characters, six base64 lines
of 64 characters and one of 8 between the marker lines, each line ended by LF. Private keys are
written as unencrypted PKCS#8 ("PRIVATE KEY"); PKCS#1 ("RSA PRIVATE KEY") is read as well, so keys
made with common tools work too.
"""

import base64
import hashlib
import secrets
from typing import List, Optional, Tuple

KEY_BITS = 2048
PUBLIC_EXPONENT = 65537
SIGNATURE_BYTES = KEY_BITS // 8

# AlgorithmIdentifier { rsaEncryption, NULL } and the DER prefix of a SHA-256 DigestInfo.
_RSA_ALGORITHM = bytes.fromhex("300d06092a864886f70d0101010500")
_SHA256_DIGEST_INFO = bytes.fromhex("3031300d060960864801650304020105000420")


class KeyFileError(ValueError):
    """A key file that cannot be used; the message says why."""


# --- DER -------------------------------------------------------------------------------------------

def _der(tag: int, content: bytes) -> bytes:
    length = len(content)
    if length < 0x80:
        return bytes([tag, length]) + content
    size = length.to_bytes((length.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + content


def _der_integer(value: int) -> bytes:
    # Minimal two's complement: a leading zero byte when the top bit would read as a sign.
    return _der(0x02, value.to_bytes(value.bit_length() // 8 + 1, "big"))


def _der_sequence(*parts: bytes) -> bytes:
    return _der(0x30, b"".join(parts))


def _der_read(data: bytes, offset: int, tag: int) -> Tuple[bytes, int]:
    """The content of the element of `tag` at `offset`, and the offset after it."""
    if offset + 2 > len(data) or data[offset] != tag:
        raise KeyFileError("unexpected DER structure")
    length = data[offset + 1]
    offset += 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or offset + count > len(data):
            raise KeyFileError("unexpected DER length")
        length = int.from_bytes(data[offset:offset + count], "big")
        offset += count
    if offset + length > len(data):
        raise KeyFileError("truncated DER data")
    return data[offset:offset + length], offset + length


def _require_rsa(algorithm: bytes) -> None:
    oid, _ = _der_read(algorithm, 0, 0x06)
    if oid != _RSA_ALGORITHM[4:13]:
        raise KeyFileError("not an RSA key")


def _der_integers(sequence: bytes, count: int) -> List[int]:
    values = []
    offset = 0
    for _ in range(count):
        content, offset = _der_read(sequence, offset, 0x02)
        values.append(int.from_bytes(content, "big", signed=True))
    return values


# --- PEM -------------------------------------------------------------------------------------------

def _pem(label: str, der: bytes) -> str:
    text = base64.b64encode(der).decode("ascii")
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return "-----BEGIN %s-----\n%s\n-----END %s-----\n" % (label, "\n".join(lines), label)


def _pem_blocks(text: str) -> List[Tuple[str, bytes]]:
    blocks = []
    label = None
    body: List[str] = []
    for line in text.replace("\r\n", "\n").split("\n"):
        line = line.strip()
        if line.startswith("-----BEGIN ") and line.endswith("-----"):
            label, body = line[11:-5], []
        elif label is not None and line == "-----END %s-----" % label:
            try:
                blocks.append((label, base64.b64decode("".join(body), validate=True)))
            except ValueError:
                raise KeyFileError("the %s block is not valid base64" % label) from None
            label = None
        elif label is not None and line and ":" not in line:
            body.append(line)
    return blocks


# --- keys ------------------------------------------------------------------------------------------

class PublicKey:
    def __init__(self, modulus: int, exponent: int):
        self.n = modulus
        self.e = exponent

    def pem(self) -> str:
        """The SubjectPublicKeyInfo PEM text the launcher embeds."""
        rsa_key = _der_sequence(_der_integer(self.n), _der_integer(self.e))
        return _pem("PUBLIC KEY", _der_sequence(_RSA_ALGORITHM, _der(0x03, b"\0" + rsa_key)))

    def fingerprint(self) -> str:
        """SHA-256 of the DER key, shortened: enough to tell two keys apart in messages."""
        der = base64.b64decode("".join(self.pem().splitlines()[1:-1]))
        return hashlib.sha256(der).hexdigest()[:16]

    def verify(self, data: bytes, signature: bytes) -> bool:
        if len(signature) != SIGNATURE_BYTES:
            return False
        value = int.from_bytes(signature, "big")
        if value >= self.n:
            return False
        return pow(value, self.e, self.n).to_bytes(SIGNATURE_BYTES, "big") == _encoded_digest(data)


class PrivateKey:
    def __init__(self, n: int, e: int, d: int, p: int, q: int):
        self.n, self.e, self.d, self.p, self.q = n, e, d, p, q
        self.dp = d % (p - 1)
        self.dq = d % (q - 1)
        self.q_inverse = pow(q, -1, p)

    def public(self) -> PublicKey:
        return PublicKey(self.n, self.e)

    def pem(self) -> str:
        """Unencrypted PKCS#8."""
        rsa_key = _der_sequence(*(_der_integer(v) for v in (
            0, self.n, self.e, self.d, self.p, self.q, self.dp, self.dq, self.q_inverse)))
        return _pem("PRIVATE KEY", _der_sequence(_der_integer(0), _RSA_ALGORITHM, _der(0x04, rsa_key)))

    def sign(self, data: bytes) -> bytes:
        message = int.from_bytes(_encoded_digest(data), "big")
        # Chinese remainder: two half-size exponentiations instead of one full one.
        m1 = pow(message, self.dp, self.p)
        m2 = pow(message, self.dq, self.q)
        value = m2 + self.q * ((self.q_inverse * (m1 - m2)) % self.p)
        # A computation fault must never leave as a signature that leaks the key or fails later.
        if pow(value, self.e, self.n) != message:
            raise RuntimeError("the signature did not verify after signing")
        return value.to_bytes(SIGNATURE_BYTES, "big")


def _encoded_digest(data: bytes) -> bytes:
    """EMSA-PKCS1-v1_5 encoding of the SHA-256 of `data` for a 2048-bit modulus."""
    digest_info = _SHA256_DIGEST_INFO + hashlib.sha256(data).digest()
    return b"\x00\x01" + b"\xff" * (SIGNATURE_BYTES - len(digest_info) - 3) + b"\x00" + digest_info


def _check_private(n: int, e: int, d: int, p: int, q: int) -> PrivateKey:
    if p * q != n or n.bit_length() != KEY_BITS:
        raise KeyFileError("not a 2048-bit RSA key (the launcher embeds a 2048-bit key)")
    key = PrivateKey(n, e, d, p, q)
    if pow(pow(2, e, n), d, n) != 2:
        raise KeyFileError("the private exponent does not match the public one")
    return key


def load_private_key(text: str) -> PrivateKey:
    for label, der in _pem_blocks(text):
        if label == "ENCRYPTED PRIVATE KEY":
            raise KeyFileError("the private key is protected by a passphrase; give the publisher an "
                            "unencrypted copy (keep it only where the build runs, e.g. a CI secret)")
        if label == "PRIVATE KEY":
            info, _ = _der_read(der, 0, 0x30)
            _, offset = _der_read(info, 0, 0x02)
            algorithm, offset = _der_read(info, offset, 0x30)
            _require_rsa(algorithm)
            der, _ = _der_read(info, offset, 0x04)
            label = "RSA PRIVATE KEY"
        if label == "RSA PRIVATE KEY":
            sequence, _ = _der_read(der, 0, 0x30)
            _, n, e, d, p, q = _der_integers(sequence, 6)
            return _check_private(n, e, d, p, q)
    raise KeyFileError("no PEM \"PRIVATE KEY\" block found")


def load_public_key(text: str) -> PublicKey:
    for label, der in _pem_blocks(text):
        if label == "PUBLIC KEY":
            info, _ = _der_read(der, 0, 0x30)
            algorithm, offset = _der_read(info, 0, 0x30)
            _require_rsa(algorithm)
            bits, _ = _der_read(info, offset, 0x03)
            if not bits or bits[0] != 0:
                raise KeyFileError("unexpected key bit string")
            sequence, _ = _der_read(bits[1:], 0, 0x30)
            n, e = _der_integers(sequence, 2)
        elif label == "RSA PUBLIC KEY":
            sequence, _ = _der_read(der, 0, 0x30)
            n, e = _der_integers(sequence, 2)
        else:
            continue
        if n.bit_length() != KEY_BITS:
            raise KeyFileError("not a 2048-bit RSA key (the launcher embeds a 2048-bit key)")
        return PublicKey(n, e)
    raise KeyFileError("no PEM \"PUBLIC KEY\" block found")


# --- generation ------------------------------------------------------------------------------------

_SMALL_PRIMES = [p for p in range(3, 2000) if all(p % f for f in range(2, int(p ** 0.5) + 1))]


def _probably_prime(candidate: int, rounds: int = 40) -> bool:
    for prime in _SMALL_PRIMES:
        if candidate % prime == 0:
            return candidate == prime
    odd = candidate - 1
    shifts = 0
    while odd % 2 == 0:
        odd //= 2
        shifts += 1
    for _ in range(rounds):
        witness = 2 + secrets.randbelow(candidate - 3)
        x = pow(witness, odd, candidate)
        if x in (1, candidate - 1):
            continue
        for _ in range(shifts - 1):
            x = pow(x, 2, candidate)
            if x == candidate - 1:
                break
        else:
            return False
    return True


def _random_prime(bits: int) -> int:
    while True:
        # The top two bits set make the product of two such primes exactly 2 * bits long.
        candidate = secrets.randbits(bits) | (0b11 << (bits - 2)) | 1
        if (candidate - 1) % PUBLIC_EXPONENT and _probably_prime(candidate):
            return candidate


def generate_private_key(prime_source=_random_prime) -> PrivateKey:
    while True:
        p = prime_source(KEY_BITS // 2)
        q = prime_source(KEY_BITS // 2)
        # Primes too close together would let the modulus be factored from its square root.
        if abs(p - q).bit_length() < KEY_BITS // 2 - 100:
            continue
        if p < q:
            p, q = q, p
        n = p * q
        lam = (p - 1) * (q - 1) // _gcd(p - 1, q - 1)
        d = pow(PUBLIC_EXPONENT, -1, lam)
        return _check_private(n, PUBLIC_EXPONENT, d, p, q)


def _gcd(a: int, b: int) -> int:
    while b:
        a, b = b, a % b
    return a


def public_key_text_problem(text: str) -> Optional[str]:
    """Why a public key text is not in the exact form the build embeds, or None."""
    lines = text.split("\n")
    if len(text) != 451 or not text.endswith("\n") or "\r" in text:
        return "the text is %d characters, not the 451 of a 2048-bit key with LF line ends" % len(text)
    if lines[0] != "-----BEGIN PUBLIC KEY-----" or lines[-2] != "-----END PUBLIC KEY-----":
        return "the marker lines are not \"-----BEGIN PUBLIC KEY-----\" / \"-----END PUBLIC KEY-----\""
    return None
