// CCore: the Core automation object. Apartment-threaded and aggregatable;
// IDispatch is served from the library's type library. The object keeps no
// state of its own: latches, timers, handles and variables outlive it.
#ifndef CORE_H
#define CORE_H

#include "CoreInterface.h"

class CCore : public ICore {
public:
  // A new object for the class factory: with `outer`, only IUnknown may be
  // asked for (the outer object's private one is handed out).
  static HRESULT Create(IUnknown *outer, REFIID iid, void **object);

  // IUnknown: delegates to the outer object when aggregated.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID lcid,
                                          DISPID *ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS *params,
                                   VARIANT *result, EXCEPINFO *exception, UINT *argumentError) override;

  // ICore
  HRESULT STDMETHODCALLTYPE Print(BSTR string) override;
  HRESULT STDMETHODCALLTYPE CheckTime(short id, VARIANT_BOOL bReset, BSTR cron, long *pVal) override;
  HRESULT STDMETHODCALLTYPE Run(long flags, BSTR file, BSTR command_line, VARIANT *pVal) override;
  HRESULT STDMETHODCALLTYPE LogonUser(BSTR user, BSTR domain, BSTR password, long logonType, long logonProvider,
                                      long *pVal) override;
  HRESULT STDMETHODCALLTYPE ImpersonateLoggedOnUser(long hToken, long *pVal) override;
  HRESULT STDMETHODCALLTYPE GetMessageLParam(long hMsg, long *pVal) override;
  HRESULT STDMETHODCALLTYPE CreateProcessAsUser(long flags, BSTR user, BSTR domain, BSTR password, BSTR commandline,
                                                long *pVal) override;
  HRESULT STDMETHODCALLTYPE RevertToSelf(long *pVal) override;
  HRESULT STDMETHODCALLTYPE ShellExecute(long flags, BSTR verb, BSTR file, BSTR params, long *pVal) override;
  HRESULT STDMETHODCALLTYPE CreateProcess(long flags, BSTR commandline, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetCreateProcessAsUser(long flags, BSTR user, BSTR server, BSTR password,
                                                   BSTR commandline, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetCreateProcess(long flags, BSTR server, BSTR commandline, long *pVal) override;
  HRESULT STDMETHODCALLTYPE GetMessage(long unused1, long unused2, long *pVal) override;
  HRESULT STDMETHODCALLTYPE SetTimer(long uElapse, long *pVal) override;
  HRESULT STDMETHODCALLTYPE KillTimer(short id, long *pVal) override;
  HRESULT STDMETHODCALLTYPE GetMessageWParam(long hMsg, long *pVal) override;
  HRESULT STDMETHODCALLTYPE GetMessageId(long hMsg, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobAddAsUser(long flags, BSTR user, BSTR server, BSTR password,
                                                    BSTR cron_spec, BSTR commandline, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobAdd(long flags, BSTR server, BSTR cron_spec, BSTR commandline,
                                              long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobDel(BSTR server, long MinJobId, long MaxJobId, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfo(BSTR server, long JobId, long *hObject) override;
  HRESULT STDMETHODCALLTYPE FreeHandle(long hObject, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoTime(long hObject, BSTR *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoError(long hObject, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoCommand(long hObject, BSTR *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobEnum(BSTR server, long *hObject) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobEnumCount(long hObject, long *pVal) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobEnumGet(long hObject, long Index, long *hJob) override;
  HRESULT STDMETHODCALLTYPE NetScheduleJobGetInfoJobId(long hObject, long *pVal) override;
  HRESULT STDMETHODCALLTYPE GetEnvironmentVariable(long flags, BSTR name, BSTR *pVal) override;
  HRESULT STDMETHODCALLTYPE SetEnvironmentVariable(long flags, BSTR name, BSTR value, long *pVal) override;
  HRESULT STDMETHODCALLTYPE DispatchMessage(long hMsg) override;
  HRESULT STDMETHODCALLTYPE DestroyCronContext(long MinCronId, long MaxCronId, long *pVal) override;
  HRESULT STDMETHODCALLTYPE PumpMessage(long unused1, long unused2, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpCd(long hSession, BSTR pRemoteName, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpClose(long hSession, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpConnect(BSTR szHostName, short port, BSTR szUserID, BSTR szPassword,
                                       long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpDel(long hSession, BSTR pRemoteName, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpGet(long hSession, BSTR pRemoteName, BSTR pLocalName, VARIANT_BOOL bBinary,
                                   long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpMkDir(long hSession, BSTR pRemoteName, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpPut(long hSession, BSTR pLocalName, BSTR pRemoteName, VARIANT_BOOL bBinary,
                                   long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpRmDir(long hSession, BSTR pRemoteName, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpRename(long hSession, BSTR oldname, BSTR newname, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FtpTest(long hSession, BSTR pRemoteName, long *pVal) override;
  HRESULT STDMETHODCALLTYPE FindWindow(BSTR rxWindowText, BSTR rxClassName, long *pVal) override;
  HRESULT STDMETHODCALLTYPE SetForegroundWindow(long window, long *pVal) override;
  HRESULT STDMETHODCALLTYPE SetTimeLimit(long seconds, long *pVal) override;
  HRESULT STDMETHODCALLTYPE LastOutcome(BSTR *pVal) override;
  HRESULT STDMETHODCALLTYPE CronLastDue(BSTR cron, BSTR after, BSTR now, BSTR *pVal) override;
  HRESULT STDMETHODCALLTYPE RecordSkippedRun(BSTR ran, long *pVal) override;
  HRESULT STDMETHODCALLTYPE CloseWindow(long window, long *pVal) override;

  // Made by Create (or by tests that call methods directly): reference 1.
  explicit CCore(IUnknown *outer);
  virtual ~CCore();

private:
  CCore(const CCore &) = delete;
  CCore &operator=(const CCore &) = delete;

  // The private IUnknown that owns the reference count (the one an outer
  // object holds when it aggregates this one).
  struct Inner : public IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    CCore *Owner();
    CCore *owner;
  };

  HRESULT TypeInfo(ITypeInfo **info);

  Inner m_inner;
  IUnknown *m_outer; // the outer object, or &m_inner
  ULONG m_references; // apartment-threaded: not interlocked
  ITypeInfo *m_typeInfo; // loaded at first use
};

#endif
