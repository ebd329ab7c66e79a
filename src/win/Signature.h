#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Authenticode signatures: whether a file carries a valid one and who signed
// it, and who signed the program that is running.
//
// Functions returning DWORD return a Win32 error code, ERROR_SUCCESS meaning
// success.

// "Windows cannot verify the digital signature for this file." The MinGW-w64
// headers lack the name.
constexpr DWORD kErrorInvalidImageHash = 577; // ERROR_INVALID_IMAGE_HASH

// The subject name of a signer's certificate as encoded in it (DER). Empty:
// no signer.
using CSignerName = std::vector<BYTE>;

// Verifies the embedded signature of the file open as hFile (with read
// access) and named strPath, with no user interface and no network fetches;
// revocation is not checked. A program file is read through hFile. A Windows
// Installer package is read by its name, so strPath must name the same file
// where nobody else can replace it. kErrorInvalidImageHash when the file
// carries no signature, a broken one, or one the system does not trust;
// ERROR_PROC_NOT_FOUND when the system's signature functions cannot be
// loaded. On success signer holds the subject name of the signer's
// certificate; on failure signer is left as it was.
DWORD VerifyFileSignature(const std::wstring& strPath, HANDLE hFile, CSignerName& signer);

// Whether two signers' subject names are the same name. A renewed
// certificate with the same subject matches; one whose subject differs in any
// attribute, or encodes the same text differently, does not.
bool SameSigner(const CSignerName& a, const CSignerName& b);

// The signer of the program image this process runs, read from that image's
// own file, never from whatever file has its name now: the name the program
// was started by may have been given to another file since (the folder it was
// started from may belong to a user). The image's header in memory says
// whether it carries a signature at all: when not, this returns ERROR_SUCCESS
// with an empty signer. Otherwise the file is opened (by the module's name,
// else by the name the mapping of the image has now), held without write or
// delete sharing, and used only when the system confirms it is the file
// mapped as the running image; its signature must be valid. Any other result
// is an error, and signer is left as it was: the caller cannot know which
// signer to expect and must refuse what it would check.
DWORD ReadOwnSigner(CSignerName& signer);
