// Methods whose units are not part of this build yet (network jobs, FTP).
// Each answers its failure value with S_FALSE and tells the operator that
// the operation is not available.
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

HRESULT UnavailableText(const char *method, BSTR *pVal) {
  if (pVal)
    *pVal = nullptr;
  CoreNotifyText(method, kUnavailable);
  return S_FALSE;
}

} // namespace

HRESULT CCore::NetCreateProcessAsUser(long, BSTR, BSTR, BSTR, BSTR, long *pVal) {
  return Unavailable("NetCreateProcessAsUser", pVal, -1);
}
HRESULT CCore::NetCreateProcess(long, BSTR, BSTR, long *pVal) { return Unavailable("NetCreateProcess", pVal, -1); }
HRESULT CCore::NetScheduleJobAddAsUser(long, BSTR, BSTR, BSTR, BSTR, BSTR, long *pVal) {
  return Unavailable("NetScheduleJobAddAsUser", pVal, -1);
}
HRESULT CCore::NetScheduleJobAdd(long, BSTR, BSTR, BSTR, long *pVal) {
  return Unavailable("NetScheduleJobAdd", pVal, -1);
}
HRESULT CCore::NetScheduleJobDel(BSTR, long, long, long *pVal) {
  return Unavailable("NetScheduleJobDel", pVal, kFalse);
}
HRESULT CCore::NetScheduleJobGetInfo(BSTR, long, long *hObject) {
  return Unavailable("NetScheduleJobGetInfo", hObject, 0);
}
HRESULT CCore::NetScheduleJobGetInfoTime(long, BSTR *pVal) {
  return UnavailableText("NetScheduleJobGetInfoTime", pVal);
}
HRESULT CCore::NetScheduleJobGetInfoError(long, long *pVal) {
  return Unavailable("NetScheduleJobGetInfoError", pVal, kFalse);
}
HRESULT CCore::NetScheduleJobGetInfoCommand(long, BSTR *pVal) {
  return UnavailableText("NetScheduleJobGetInfoCommand", pVal);
}
HRESULT CCore::NetScheduleJobEnum(BSTR, long *hObject) { return Unavailable("NetScheduleJobEnum", hObject, 0); }
HRESULT CCore::NetScheduleJobEnumCount(long, long *pVal) { return Unavailable("NetScheduleJobEnumCount", pVal, 0); }
HRESULT CCore::NetScheduleJobEnumGet(long, long, long *hJob) { return Unavailable("NetScheduleJobEnumGet", hJob, 0); }
HRESULT CCore::NetScheduleJobGetInfoJobId(long, long *pVal) {
  return Unavailable("NetScheduleJobGetInfoJobId", pVal, -1);
}
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
