#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>

#include <string>
#include <vector>

// Authenticode signatures: whether a file carries a valid one that chains to
// a root the machine trusts, who signed it, and who signed the program that
// is running.
//
// Functions returning DWORD return a Win32 error code, ERROR_SUCCESS meaning
// success.

// "Windows cannot verify the digital signature for this file." The MinGW-w64
// headers lack the name.
constexpr DWORD kErrorInvalidImageHash = 577; // ERROR_INVALID_IMAGE_HASH

// Who signed a file, as a signed updater compares its packages' signers with
// its own: the subject of the signer's certificate and the name and public
// key of the certificate that issued it, each as encoded in the certificates
// (the key with its algorithm). Empty: no signer.
struct Signer
{
    std::vector<BYTE> subject;
    std::vector<BYTE> issuerName;
    std::vector<BYTE> issuerKey;

    bool IsEmpty() const { return subject.empty(); }
};

// Verifies the embedded signature of the file open as hFile (with read
// access) and named strPath, with no user interface. A program file is read
// through hFile; a Windows Installer package is read by its name, so strPath
// must name the same file where nobody else can replace it.
//
// The system's verification says whether the signature is whole and names
// its signer; the chain is then built and judged here, since that
// verification may take any chain: from the signer's certificate over the
// certificates the signature carries, up to a root in the machine's own Root
// store (never the user's), as at the time the signature was made, with the
// Authenticode policy, and with the revocation of every certificate below the
// root checked where a revocation server answers.
//
// kErrorInvalidImageHash when the file carries no signature, a broken one,
// one whose chain does not end at a root the machine trusts or that the
// policy refuses, or one with a revoked certificate; ERROR_PROC_NOT_FOUND
// when the system's signature functions cannot be loaded. On success signer
// holds the signer, and bRevocationChecked says whether revocation could be
// checked (else no revocation server answered, or a certificate names none);
// on failure both are left as they were.
DWORD VerifyFileSignature(const std::wstring& strPath, HANDLE hFile, Signer& signer, bool& bRevocationChecked);

// Whether two signers are the same publisher: the same subject, issued by
// the same certificate (the same issuer name and public key). A renewed
// certificate (a new key, the same subject, from the same issuer) matches;
// one whose subject differs in any attribute, or encodes the same text
// differently, or that another certificate of the same name issued, does
// not.
bool SameSigner(const Signer& a, const Signer& b);

// The file of the program image this process runs, never whatever file has
// its name now: the name the program was started by may have been given to
// another file since (the folder it was started from may belong to a user).
// The file is opened by the module's name, else by the name the mapping of
// the image has now, held without write or delete sharing, and taken only
// when the system confirms it is the file mapped as the running image. On
// success hFile and strName hold it; ERROR_FILE_INVALID when it is at
// neither name.
DWORD OpenOwnImage(CHandle& hFile, std::wstring& strName);

// The signer of the program image this process runs, read from its own file
// (OpenOwnImage) and verified as VerifyFileSignature does. The image's
// header in memory says whether it carries a signature at all: when not,
// this returns ERROR_SUCCESS with an empty signer. Any other result is an
// error, and signer is left as it was: the caller cannot know which signer
// to expect and must refuse what it would check.
DWORD ReadOwnSigner(Signer& signer);

// Whether the certificate table of the program file open as hFile (with read
// access) holds its signature and nothing else: exactly one entry, at the end
// of the file, and after the signature no more than the zeros that pad it to
// 8 bytes. A signature's digest skips that table, so anything else there
// would be bytes nobody signed, under a valid signature. ERROR_SUCCESS, else
// kErrorInvalidImageHash (also for a file that is no program or carries no
// table).
DWORD CheckCertificateTable(HANDLE hFile);
