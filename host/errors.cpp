#include "flipreel/host/errors.h"

namespace flipreel {

std::string ErrorDescription(int32_t number) {
  switch (number) {
    case err::kInvalidCall:
      return "Invalid procedure call or argument";
    case err::kOverflow:
      return "Overflow";
    case err::kOutOfMemory:
      return "Out of memory";
    case err::kSubscriptOutOfRange:
      return "Subscript out of range";
    case err::kTypeMismatch:
      return "Type mismatch";
    case err::kBadFileNameOrNumber:
      return "Bad file name or number";
    case err::kFileNotFound:
      return "File not found";
    case err::kFileAlreadyOpen:
      return "File already open";
    case err::kDeviceIo:
      return "Device I/O error";
    case err::kTooManyFiles:
      return "Too many files";
    case err::kPermissionDenied:
      return "Permission denied";
    case err::kPathFileAccess:
      return "Path/File access error";
    case err::kPathNotFound:
      return "Path not found";
    case err::kElementMissing:
      return "Control array element doesn't exist";
    case err::kAlreadyLoaded:
      return "Object already loaded";
    case err::kCantUnloadDesignElement:
      return "Can't unload controls created at design time";
    case err::kInvalidPropertyValue:
      return "Invalid property value";
    case err::kNoSuchMember:
      return "Object doesn't support this property or method";
    case err::kWrongArguments:
      return "Wrong number of arguments or invalid property assignment";
    case err::kInvalidPicture:
      return "Invalid picture";
    case err::kDownloadFailed:
      return "Download failed";
    case err::kAddressNotSupported:
      return "Address not supported";
    case err::kCannotConnect:
      return "Cannot connect to the server";
    case err::kServerError:
      return "The server answered with an error";
    case err::kAccessDenied:
      return "Access denied by the server";
    case err::kDownloadTimedOut:
      return "Download timed out";
    case err::kDownloadTooLarge:
      return "Download too large";
    case err::kTooManyRedirects:
      return "Too many redirects";
    case err::kDialogCancelled:
      return "Cancel was selected";
    default:
      return "Application-defined or object-defined error";
  }
}

}  // namespace flipreel
