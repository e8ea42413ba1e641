#pragma once
// A 512-bit RSA key (PKCS#1 DER as hex) for the handshake fuzzers, made once
// with private exponent 65537 and the public one its (large) inverse: the
// private operation then costs what a public one does, where a real key's
// would dominate every execution. Worthless as a key; never used outside
// fuzz/.
namespace qv::fuzz {
inline constexpr const char* kSmallKeyHex =
    "3081ff020100024100c1f0ee9f284fde80ab97698eecaac0573e8053fbbc"
    "6cb72ce7c209064a355a2b3af2481aec749b846b16840faef679de4ae064"
    "44b8fadd4a40ec589700dae2bd02401ea301ac5e710b86f65453665d684b"
    "3d1cfafc5eb2868158947de2f0bd97f857c072eceba59f3eacf4652f19b8"
    "d28b9ed64216501c5a4271be6cbd86e0413f030203010001022100e94604"
    "30beed36611eef2db56902651d17012d5ac29d8c5de39e720f66d847fb02"
    "2100d4d5f151a30424689c71d44045217d8fa5c4d0eca85e6cf5c9f51bf8"
    "a4026aa7020301000102030100010220241249fd878320db6695171f090a"
    "0ed0bfceb220c2f3ea23152617c8327cdb0b";
}  // namespace qv::fuzz
