#pragma once
// One Win32 dialog over one C++ object. The dialog procedure finds the
// object in the window's DWLP_USER slot (stored at WM_INITDIALOG from the
// creation parameter) and forwards every message to HandleMessage; before
// WM_INITDIALOG (WM_SETFONT and the like) it answers FALSE.
#include <windows.h>

#include <atomic>

namespace platform {

class DialogBase {
 public:
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;

  // The window from WM_INITDIALOG until WM_NCDESTROY, null otherwise; any
  // thread may read it (to post to the window).
  HWND Hwnd() const { return hwnd_.load(); }

  // A dialog procedure returns its result for these messages itself; for
  // every other message it returns TRUE and leaves the result in
  // DWLP_MSGRESULT.
  static bool AnswersDirectly(UINT message) {
    switch (message) {
      case WM_CHARTOITEM:
      case WM_COMPAREITEM:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC:
      case WM_INITDIALOG:
      case WM_QUERYDRAGICON:
      case WM_VKEYTOITEM:
        return true;
      default:
        return false;
    }
  }

 protected:
  // The API family that creates the window; the window's messages carry
  // text of that kind.
  enum class Charset { kAnsi, kWide };

  explicit DialogBase(Charset charset) : charset_(charset) {}
  virtual ~DialogBase() = default;

  // Modeless from dialog template `templateId`, owned by `owner`; the
  // window, or null.
  HWND CreateModeless(int templateId, HWND owner) {
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    return charset_ == Charset::kAnsi
               ? CreateDialogParamA(TemplateModule(), MAKEINTRESOURCEA(templateId), owner,
                                    Procedure, self)
               : CreateDialogParamW(TemplateModule(), MAKEINTRESOURCEW(templateId), owner,
                                    Procedure, self);
  }

  // Modal from dialog template `templateId` in the system's modal loop;
  // the value given to EndDialog, or -1.
  INT_PTR RunModal(int templateId, HWND owner) {
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    return charset_ == Charset::kAnsi
               ? DialogBoxParamA(TemplateModule(), MAKEINTRESOURCEA(templateId), owner, Procedure,
                                 self)
               : DialogBoxParamW(TemplateModule(), MAKEINTRESOURCEW(templateId), owner, Procedure,
                                 self);
  }

  // The dialog procedure's result for `message` (WM_INITDIALOG included):
  // FALSE for "not handled", otherwise see Answer.
  virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  // `result` as the answer to `message`: returned as it is for the messages
  // AnswersDirectly lists, through DWLP_MSGRESULT for the others.
  INT_PTR Answer(UINT message, LRESULT result) const {
    if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
    return AnswerThroughMsgResult(result);
  }
  // `result` through DWLP_MSGRESULT whatever the message.
  INT_PTR AnswerThroughMsgResult(LRESULT result) const {
    SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, result);
    return TRUE;
  }

  // From now on Hwnd() is null, before the window is gone: the threads that
  // post to it stop doing so.
  void ForgetWindow() { hwnd_ = nullptr; }

 private:
  static HINSTANCE TemplateModule() { return GetModuleHandleW(nullptr); }

  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogBase* self;
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<DialogBase*>(lParam);
      SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      self->hwnd_ = hwnd;
    } else {
      self = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    const INT_PTR result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) self->hwnd_ = nullptr;
    return result;
  }

  const Charset charset_;
  std::atomic<HWND> hwnd_{nullptr};
};

}  // namespace platform
