// The ICore interface as C++ sees it, in the slot order of QuillmothLib.idl,
// and the library's fixed identifiers.
#ifndef COREINTERFACE_H
#define COREINTERFACE_H

#include <windows.h>
#include <oaidl.h>

// The platform headers map these names to their A/W functions; here they
// are method names of ICore. Code of the library calls the A functions.
#undef GetMessage
#undef CreateProcessAsUser
#undef ShellExecute
#undef CreateProcess
#undef LogonUser
#undef GetEnvironmentVariable
#undef SetEnvironmentVariable
#undef DispatchMessage
#undef FindWindow

// {5FC6C994-EFAB-4257-88DD-E023642501D4}
extern const GUID LIBID_QuillmothLibLib;
// {638065EC-1781-4953-AB31-3FBD323ED7F7}
extern const IID IID_ICore;
// {0C9CAF96-D5FC-456B-A150-A5AF3666DF30}
extern const CLSID CLSID_Core;
// {526441F5-1EBD-439E-801D-6829AAC9761B}
extern const GUID APPID_QuillmothLib;

#define QMLIB_LIBID_TEXT "{5FC6C994-EFAB-4257-88DD-E023642501D4}"
#define QMLIB_CLSID_TEXT "{0C9CAF96-D5FC-456B-A150-A5AF3666DF30}"
#define QMLIB_APPID_TEXT "{526441F5-1EBD-439E-801D-6829AAC9761B}"

struct ICore : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Print(BSTR string) = 0;
  virtual HRESULT STDMETHODCALLTYPE CheckTime(short id, VARIANT_BOOL bReset, BSTR cron, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE Run(long flags, BSTR file, BSTR command_line, VARIANT *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE LogonUser(BSTR user, BSTR domain, BSTR password, long logonType,
                                              long logonProvider, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE ImpersonateLoggedOnUser(long hToken, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMessageLParam(long hMsg, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateProcessAsUser(long flags, BSTR user, BSTR domain, BSTR password,
                                                        BSTR commandline, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE RevertToSelf(long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShellExecute(long flags, BSTR verb, BSTR file, BSTR params, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateProcess(long flags, BSTR commandline, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetCreateProcessAsUser(long flags, BSTR user, BSTR server, BSTR password,
                                                           BSTR commandline, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetCreateProcess(long flags, BSTR server, BSTR commandline, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMessage(long unused1, long unused2, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTimer(long uElapse, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE KillTimer(short id, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMessageWParam(long hMsg, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMessageId(long hMsg, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobAddAsUser(long flags, BSTR user, BSTR server, BSTR password,
                                                            BSTR cron_spec, BSTR commandline, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobAdd(long flags, BSTR server, BSTR cron_spec, BSTR commandline,
                                                      long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobDel(BSTR server, long MinJobId, long MaxJobId, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfo(BSTR server, long JobId, long *hObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeHandle(long hObject, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoTime(long hObject, BSTR *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoError(long hObject, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoCommand(long hObject, BSTR *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobEnum(BSTR server, long *hObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobEnumCount(long hObject, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobEnumGet(long hObject, long Index, long *hJob) = 0;
  virtual HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoJobId(long hObject, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEnvironmentVariable(long flags, BSTR name, BSTR *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEnvironmentVariable(long flags, BSTR name, BSTR value, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE DispatchMessage(long hMsg) = 0;
  virtual HRESULT STDMETHODCALLTYPE DestroyCronContext(long MinCronId, long MaxCronId, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE PumpMessage(long unused1, long unused2, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpCd(long hSession, BSTR pRemoteName, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpClose(long hSession, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpConnect(BSTR szHostName, short port, BSTR szUserID, BSTR szPassword,
                                               long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpDel(long hSession, BSTR pRemoteName, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpGet(long hSession, BSTR pRemoteName, BSTR pLocalName, VARIANT_BOOL bBinary,
                                           long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpMkDir(long hSession, BSTR pRemoteName, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpPut(long hSession, BSTR pLocalName, BSTR pRemoteName, VARIANT_BOOL bBinary,
                                           long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpRmDir(long hSession, BSTR pRemoteName, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpRename(long hSession, BSTR oldname, BSTR newname, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FtpTest(long hSession, BSTR pRemoteName, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindWindow(BSTR rxWindowText, BSTR rxClassName, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetForegroundWindow(long window, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTimeLimit(long seconds, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE LastOutcome(BSTR *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE CronLastDue(BSTR cron, BSTR after, BSTR now, BSTR *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE RecordSkippedRun(BSTR ran, long *pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE CloseWindow(long window, long *pVal) = 0;
};

#endif
