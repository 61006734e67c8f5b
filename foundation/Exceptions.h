#pragma once
// The exception family: every failure travels as a CBaseException subclass that records where it
// was raised (source file, class, line), a message for the user, an optional low-level text and an
// optional additional text, and may carry the records of an earlier exception as its causes.
// Thrown with the THROW_* macros below so that every throw site names its own file and line.

#include "platform/HResult.h"

#include <cstdint>
#include <string>
#include <vector>

struct CErrorEntry {
    std::string file;      // source file of the throw site, as ".\\CameraView"
    std::string className; // the class actually thrown
    int32_t line = 0;
    std::string message;  // text for the user
    std::string internal; // low-level text (CDirectXEx: the HRESULT's symbolic name)
    std::string info;     // additional information

    // "message\n\nClass \t...\nFile  \t...\nLine  \t...\n" [+ "Internal \t...\n"] [+ "Info \t...\n"]
    std::string GetText() const;
};

class CBaseException {
public:
    virtual ~CBaseException() = default;
    // The low-level text that the class derives from its own data; empty here.
    virtual std::string GetInternalText() const { return {}; }

    // The first record's message.
    const std::string& GetMessage() const { return m_entries.front().message; }
    // The report text of the first record, or of every record each followed by "\n\n\n".
    std::string GetText(bool allRecords) const;
    const std::vector<CErrorEntry>& GetEntries() const { return m_entries; }
    const CErrorEntry& First() const { return m_entries.front(); }

protected:
    CBaseException(const char* file, const char* className, int line, std::string message, std::string info,
                   const CBaseException* earlier);
    // Called by each concrete class's constructor once the object has its final class.
    void SetInternalText() { m_entries.front().internal = GetInternalText(); }

private:
    std::vector<CErrorEntry> m_entries;
};

#define TAVRIX_DECLARE_EXCEPTION(Name)                                                                       \
    class Name : public CBaseException {                                                                     \
    public:                                                                                                  \
        Name(const char* file, const char* className, int line, std::string message, std::string info = {},  \
             const CBaseException* earlier = nullptr)                                                        \
            : CBaseException(file, className, line, std::move(message), std::move(info), earlier) {          \
            SetInternalText();                                                                               \
        }                                                                                                    \
    }

TAVRIX_DECLARE_EXCEPTION(CGeneralEx);
TAVRIX_DECLARE_EXCEPTION(CSMTPEx);
TAVRIX_DECLARE_EXCEPTION(CSkypeEx);
TAVRIX_DECLARE_EXCEPTION(CUserDbEx);

// A failed platform call (media pipeline, device, file system) with its result code.
class CDirectXEx : public CBaseException {
public:
    CDirectXEx(HRESULT hr, const char* file, const char* className, int line, std::string message,
               std::string info = {}, const CBaseException* earlier = nullptr)
        : CBaseException(file, className, line, std::move(message), std::move(info), earlier), m_hr(hr) {
        SetInternalText();
    }
    std::string GetInternalText() const override { return GetHResultName(m_hr); }
    HRESULT GetHResult() const { return m_hr; }

private:
    HRESULT m_hr;
};

// The source name of a throw site as error reports show it: ".\\" and the file's name without
// folder and extension (".\\CameraView" for camera/CameraView.cpp).
std::string ExceptionSourceName(const char* path);

#define TAVRIX_THROW_SOURCE ExceptionSourceName(__FILE__).c_str()
#define THROW_GENERAL(message) throw CGeneralEx(TAVRIX_THROW_SOURCE, "CGeneralEx", __LINE__, (message))
#define THROW_GENERAL_INFO(message, info)                                                                    \
    throw CGeneralEx(TAVRIX_THROW_SOURCE, "CGeneralEx", __LINE__, (message), (info))
#define THROW_DIRECTX(hr, message)                                                                           \
    throw CDirectXEx((hr), TAVRIX_THROW_SOURCE, "CDirectXEx", __LINE__, (message))
#define THROW_DIRECTX_INFO(hr, message, info)                                                                \
    throw CDirectXEx((hr), TAVRIX_THROW_SOURCE, "CDirectXEx", __LINE__, (message), (info))
#define THROW_SMTP(message) throw CSMTPEx(TAVRIX_THROW_SOURCE, "CSMTPEx", __LINE__, (message))
#define THROW_SKYPE(message) throw CSkypeEx(TAVRIX_THROW_SOURCE, "CSkypeEx", __LINE__, (message))
#define THROW_USERDB(message, info)                                                                          \
    throw CUserDbEx(TAVRIX_THROW_SOURCE, "CUserDbEx", __LINE__, (message), (info))
