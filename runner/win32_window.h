// The base of a top-level window: its window class, DPI-scaled creation, dark
// title bar, embedded child content and the routing of its messages.
#pragma once

#include <windows.h>

#include <string>

class Win32Window {
 public:
  struct Point {
    unsigned int x;
    unsigned int y;
  };
  struct Size {
    unsigned int width;
    unsigned int height;
  };

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window hidden, at `origin` with `size` in logical pixels scaled to
  // the DPI of the monitor nearest the origin. False when the window or its
  // content could not be created.
  bool OpenTopLevel(const std::wstring& title, const Point& origin, const Size& size);
  bool ShowTopLevel();
  void CloseTopLevel();

  // Makes `content` the child that fills the client area and has the focus.
  void EmbedChildWindow(HWND content);
  HWND GetHandle() const { return window_handle_; }
  void SetQuitOnDestroy(bool quit_on_destroy) { quit_on_destroy_ = quit_on_destroy; }
  RECT ClientRectangle() const;

 protected:
  virtual LRESULT HandleMessage(HWND window, UINT const message, WPARAM const wparam,
                                LPARAM const lparam) noexcept;
  // Called once the window exists; false makes OpenTopLevel fail.
  virtual bool OnWindowCreated();
  // Called when the window is being destroyed.
  virtual void OnWindowDestroyed();

 private:
  friend class WindowClassRegistrar;

  static LRESULT CALLBACK TopLevelWindowProc(HWND const window, UINT const message, WPARAM const wparam,
                                             LPARAM const lparam) noexcept;
  static Win32Window* FromWindow(HWND const window) noexcept;
  // Dark title bar exactly when the user's apps use the dark theme.
  static void ApplyTitleBarTheme(HWND const window);

  bool quit_on_destroy_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
};
