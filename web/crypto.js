// The cryptography the core's package checks call (src/firmware/crypto_web.cpp): SHA-256,
// BLAKE2b-512 and Ed25519 from the audited noble libraries, base64 from the browser.
import { sha256, sha512 } from './vendor/noble-hashes/sha2.js';
import { blake2b } from './vendor/noble-hashes/blake2.js';
import * as ed25519 from './vendor/noble-ed25519/index.js';

ed25519.hashes.sha512 = sha512;

export const orvaneCrypto = {
  sha256: (bytes) => sha256(bytes),
  blake2b512: (bytes) => blake2b(bytes, { dkLen: 64 }),
  // Strict RFC 8032 checks, as minisign's own library makes them.
  verifyEd25519: (signature, message, key) =>
    ed25519.verify(signature, message, key, { zip215: false }),
  base64: (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0)),
};

globalThis.orvaneCrypto = orvaneCrypto;
