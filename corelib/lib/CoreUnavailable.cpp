// Methods whose units are not part of this build yet (starting programs and
// scripts, logon, network jobs). Each answers its failure value with
// S_FALSE and tells the operator that the operation is not available.
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

HRESULT CCore::Run(long, BSTR, BSTR, VARIANT *) {
  CoreNotifyText("Run", kUnavailable);
  return S_FALSE;
}
HRESULT CCore::LogonUser(BSTR, BSTR, BSTR, long, long, long *pVal) { return Unavailable("LogonUser", pVal, 0); }
HRESULT CCore::ImpersonateLoggedOnUser(long, long *pVal) {
  return Unavailable("ImpersonateLoggedOnUser", pVal, kFalse);
}
HRESULT CCore::CreateProcessAsUser(long, BSTR, BSTR, BSTR, BSTR, long *pVal) {
  return Unavailable("CreateProcessAsUser", pVal, -1);
}
HRESULT CCore::RevertToSelf(long *pVal) { return Unavailable("RevertToSelf", pVal, kFalse); }
HRESULT CCore::ShellExecute(long, BSTR, BSTR, BSTR, long *pVal) { return Unavailable("ShellExecute", pVal, -1); }
HRESULT CCore::CreateProcess(long, BSTR, long *pVal) { return Unavailable("CreateProcess", pVal, -1); }
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
