// The operation table of the simulated device: every DeviceServices operation
// once, as X(Op, name, result, parameters, arguments). From it come sim::Op
// and opName, the Device members that carry the operations out, and the free
// functions of DeviceServices.h that hand each call to the device. Adding an
// operation to DeviceServices.h is one line here, and its Device member.
#pragma once

#include "device/DeviceServices.h"

// clang-format off
#define VORLUND_SIM_OPERATIONS(X)                                                                  \
    X(AllocateMemory, allocateMemory, void*, (size_t bytes), (bytes))                              \
    X(ReleaseMemory, releaseMemory, void, (void* block), (block))                                  \
    X(FindFirst, findFirst, bool, (const wchar_t* pattern, device::FoundEntry* entry),             \
      (pattern, entry))                                                                            \
    X(FindOpen, findOpen, device::SearchHandle,                                                    \
      (const wchar_t* pattern, device::FoundEntry* entry), (pattern, entry))                       \
    X(FindNext, findNext, bool, (device::SearchHandle search, device::FoundEntry* entry),          \
      (search, entry))                                                                             \
    X(FindClose, findClose, void, (device::SearchHandle search), (search))                         \
    X(OpenForRead, openForRead, device::FileHandle, (const wchar_t* path), (path))                 \
    X(ReadBytes, readBytes, bool,                                                                  \
      (device::FileHandle file, char* buffer, UInt32 capacity, UInt32* bytesRead),                 \
      (file, buffer, capacity, bytesRead))                                                         \
    X(DeleteFile, deleteFile, bool, (const wchar_t* path), (path))                                 \
    X(CloseFile, closeHandle, void, (device::FileHandle file), (file))                             \
    X(CloseProcess, closeHandle, void, (device::ProcessHandle process), (process))                 \
    X(CloseThread, closeHandle, void, (device::ThreadHandle thread), (thread))                     \
    X(StartProgram, startProgram, bool,                                                            \
      (const wchar_t* program, wchar_t* commandLine, device::ProcessHandle* process,               \
       device::ThreadHandle* thread),                                                              \
      (program, commandLine, process, thread))                                                     \
    X(WaitProcess, waitProcess, void, (device::ProcessHandle process, UInt32 milliseconds),        \
      (process, milliseconds))                                                                     \
    X(WaitProcessAnsweringSent, waitProcessAnsweringSent, void,                                    \
      (device::ProcessHandle process, UInt32 milliseconds), (process, milliseconds))               \
    X(ExitStatusReadable, exitStatusReadable, bool, (device::ProcessHandle process), (process))    \
    X(OpenProcessById, openProcessById, device::ProcessHandle, (UInt32 processId), (processId))    \
    X(Pause, pause, void, (UInt32 milliseconds), (milliseconds))                                   \
    X(OwnModulePath, ownModulePath, bool, (wchar_t* buffer, int capacity), (buffer, capacity))     \
    X(LastTopLevelWindow, lastTopLevelWindow, device::WindowHandle, (), ())                        \
    X(WindowBefore, windowBefore, device::WindowHandle, (device::WindowHandle window), (window))   \
    X(WindowClassName, windowClassName, bool,                                                      \
      (device::WindowHandle window, wchar_t* buffer, int capacity), (window, buffer, capacity))    \
    X(WindowProcessId, windowProcessId, UInt32, (device::WindowHandle window), (window))           \
    X(FirstChild, firstChild, device::WindowHandle, (device::WindowHandle window), (window))       \
    X(NextSibling, nextSibling, device::WindowHandle, (device::WindowHandle window), (window))     \
    X(InitProgressClass, initProgressClass, bool, (const device::ControlClassRecord* record),      \
      (record))                                                                                    \
    X(CreateDialog, createDialog, device::WindowHandle,                                            \
      (device::ModuleHandle module, int templateId, device::WindowHandle owner,                    \
       device::DialogProcedure procedure, ptrdiff_t value),                                        \
      (module, templateId, owner, procedure, value))                                               \
    X(ShowWindow, showWindow, void, (device::WindowHandle window, int command), (window, command)) \
    X(BringToFront, bringToFront, void, (device::WindowHandle window), (window))                   \
    X(RepaintNow, repaintNow, void, (device::WindowHandle window, UInt32 flags), (window, flags))  \
    X(DestroyWindow, destroyWindow, void, (device::WindowHandle window), (window))                 \
    X(SendMessage, sendMessage, ptrdiff_t,                                                         \
      (device::WindowHandle window, UInt32 message, size_t first, ptrdiff_t second),               \
      (window, message, first, second))                                                            \
    X(MessageBox, messageBox, void,                                                                \
      (device::WindowHandle owner, const wchar_t* text, const wchar_t* caption, UInt32 style),     \
      (owner, text, caption, style))                                                               \
    X(OpenUserKey, openUserKey, device::KeyHandle, (const wchar_t* subKey, UInt32 access),         \
      (subKey, access))                                                                            \
    X(QueryValue, queryValue, bool,                                                                \
      (device::KeyHandle key, const wchar_t* name, UInt32* type, void* buffer,                     \
       UInt32* sizeBytes),                                                                         \
      (key, name, type, buffer, sizeBytes))                                                        \
    X(CloseKey, closeKey, void, (device::KeyHandle key), (key))                                    \
    X(DeleteUserKey, deleteUserKey, bool, (const wchar_t* subKey), (subKey))                       \
    X(AnsiToWide, ansiToWide, bool,                                                                \
      (const char* source, int sourceBytes, wchar_t* wide, int capacity),                          \
      (source, sourceBytes, wide, capacity))
// clang-format on

// The Device member that carries out one operation, declared in its class.
#define VORLUND_SIM_DECLARE(op, name, result, parameters, arguments) result name parameters;

namespace sim {

// The operations, by which faults are injected and calls counted.
#define VORLUND_SIM_OP(op, name, result, parameters, arguments) op,
enum class Op { VORLUND_SIM_OPERATIONS(VORLUND_SIM_OP) Count };
#undef VORLUND_SIM_OP
constexpr int kOpCount = static_cast<int>(Op::Count);
// The operation's name in DeviceServices.h ("findFirst"; the three kinds of
// handle all close with "closeHandle").
const char* opName(Op op);

}  // namespace sim
