// Methods whose units are not part of this build yet (FTP). Each answers
// its failure value with S_FALSE and tells the operator that the operation
// is not available.
#include "Core.h"

#include "CoreModule.h"

namespace {

const char kUnavailable[] = "This operation is not available in this version.";

HRESULT Unavailable(const char *method, long *pVal, long failure) {
  if (pVal)
    *pVal = failure;
  CoreNotifyText(method, kUnavailable);
  return S_FALSE;
}

} // namespace

HRESULT CCore::FtpCd(long, BSTR, long *pVal) { return Unavailable("FtpCd", pVal, kFalse); }
HRESULT CCore::FtpClose(long, long *pVal) { return Unavailable("FtpClose", pVal, kFalse); }
HRESULT CCore::FtpConnect(BSTR, short, BSTR, BSTR, long *pVal) { return Unavailable("FtpConnect", pVal, 0); }
HRESULT CCore::FtpDel(long, BSTR, long *pVal) { return Unavailable("FtpDel", pVal, kFalse); }
HRESULT CCore::FtpGet(long, BSTR, BSTR, VARIANT_BOOL, long *pVal) { return Unavailable("FtpGet", pVal, kFalse); }
HRESULT CCore::FtpMkDir(long, BSTR, long *pVal) { return Unavailable("FtpMkDir", pVal, kFalse); }
HRESULT CCore::FtpPut(long, BSTR, BSTR, VARIANT_BOOL, long *pVal) { return Unavailable("FtpPut", pVal, kFalse); }
HRESULT CCore::FtpRmDir(long, BSTR, long *pVal) { return Unavailable("FtpRmDir", pVal, kFalse); }
HRESULT CCore::FtpRename(long, BSTR, BSTR, long *pVal) { return Unavailable("FtpRename", pVal, kFalse); }
HRESULT CCore::FtpTest(long, BSTR, long *pVal) { return Unavailable("FtpTest", pVal, kFalse); }
