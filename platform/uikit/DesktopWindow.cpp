#include "platform/uikit/DesktopWindow.h"

#include <chrono>

#include <gtk/gtk.h>

#include "platform/dispatch/DisplayFrames.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Animation.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Layer.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/View.h"
#include "platform/uikit/detail/CairoDrawing.h"
#include "platform/uikit/detail/ScratchSurfaces.h"
#include "platform/uikit/detail/Pixbuf.h"

namespace uikit {

/// How often the main queue is looked at between frames: short enough that timers and posted
/// blocks run without a visible delay, long enough to cost nothing while idle.
constexpr guint kMainQueueIntervalMs = 8;

struct DesktopWindow::State {
  std::shared_ptr<DesktopHost> host;
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  guint pump = 0;
  guint tick = 0;
  guint frameTick = 0;
  std::size_t frames = 0;
  bool open = false;
  bool pressed = false;
  bool shown = false;
  CGSize screen;
};

namespace {

using State = DesktopWindow::State;

/// Whether something that shows is animating. Hidden layers and the trees of layers that show
/// nothing do not count: a spinner turning behind a hidden table would otherwise keep frames
/// coming forever.
bool hasAnimations(const CALayer& layer) {
  if (layer.isHidden()) return false;
  if (!layer.animationKeys().empty()) return true;
  if (layer.opacity() <= 0) return false;
  if (layer.mask() && hasAnimations(*layer.mask())) return true;
  for (const auto& sub : layer.sublayers())
    if (hasAnimations(*sub)) return true;
  return false;
}

bool anyAnimations(DesktopHost& host) {
  for (const auto& view : host.displayedViews())
    if (hasAnimations(*view->layer())) return true;
  return false;
}

gboolean onTick(GtkWidget* widget, GdkFrameClock*, gpointer data) {
  auto* state = static_cast<State*>(data);
  gtk_widget_queue_draw(widget);
  if (anyAnimations(*state->host)) return G_SOURCE_CONTINUE;
  state->tick = 0;
  return G_SOURCE_REMOVE;
}

/// Keeps frames coming at the display's rate while something animates.
void followAnimations(State* state) {
  if (state->tick || !state->area) return;
  if (anyAnimations(*state->host)) state->tick = gtk_widget_add_tick_callback(state->area, onTick, state, nullptr);
}

gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto* state = static_cast<State*>(data);
  const int scale = gtk_widget_get_scale_factor(widget);
  const double now = CACurrentMediaTime();
  // Windows are drawn bottom first into one picture of the screen, each at its place, so a
  // window above (a banner's) shows over the one below, and its blur blurs what is below.
  auto views = state->host->displayedViews();
  for (const auto& view : views) view->layoutIfNeeded();
  const CGSize size{static_cast<double>(gtk_widget_get_allocated_width(widget)),
                    static_cast<double>(gtk_widget_get_allocated_height(widget))};
  // Each frame is drawn into a kept bitmap of the window's size, then shown.
  const int width = static_cast<int>(size.width) * scale, height = static_cast<int>(size.height) * scale;
  detail::SurfacePtr frame;
  if (width > 0 && height > 0 && width <= detail::kMaxBitmapSide && height <= detail::kMaxBitmapSide)
    frame = detail::scratchSurface(CAIRO_FORMAT_ARGB32, width, height);
  if (frame && cairo_surface_status(frame.get()) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_set_device_scale(frame.get(), scale, scale);
    {
      detail::ContextPtr picture(cairo_create(frame.get()));
      Renderer::drawScreen(picture.get(), views, now);
    }
    cairo_set_source_surface(cr, frame.get(), 0, 0);
  } else {
    cairo_set_source_rgb(cr, 0, 0, 0);
  }
  cairo_paint(cr);
  ++state->frames;
  followAnimations(state);
  return TRUE;
}

gboolean onPump(gpointer data) {
  auto* state = static_cast<State*>(data);
  if (dispatch::drainMainQueue() > 0 && state->area) {
    gtk_widget_queue_draw(state->area);
    followAnimations(state);
  }
  return G_SOURCE_CONTINUE;
}

void afterInput(State* state) {
  dispatch::drainMainQueue();
  gtk_widget_queue_draw(state->area);
  followAnimations(state);
}

gboolean onPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (event->button != 1 || event->type != GDK_BUTTON_PRESS) return FALSE;
  state->pressed = true;
  state->host->handleTouch(DesktopTouchPhase::Began, {event->x, event->y});
  afterInput(state);
  return TRUE;
}

gboolean onMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (!state->pressed) return FALSE;
  state->host->handleTouch(DesktopTouchPhase::Moved, {event->x, event->y});
  afterInput(state);
  return TRUE;
}

gboolean onRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (event->button != 1 || !state->pressed) return FALSE;
  state->pressed = false;
  state->host->handleTouch(DesktopTouchPhase::Ended, {event->x, event->y});
  afterInput(state);
  return TRUE;
}

std::optional<DesktopKey> keyOf(guint keyval) {
  switch (keyval) {
    case GDK_KEY_BackSpace: return DesktopKey::Backspace;
    case GDK_KEY_Delete: return DesktopKey::Delete;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: return DesktopKey::Return;
    case GDK_KEY_Tab: return DesktopKey::Tab;
    case GDK_KEY_Escape: return DesktopKey::Escape;
    case GDK_KEY_Left: return DesktopKey::Left;
    case GDK_KEY_Right: return DesktopKey::Right;
    case GDK_KEY_Up: return DesktopKey::Up;
    case GDK_KEY_Down: return DesktopKey::Down;
    case GDK_KEY_Home: case GDK_KEY_KP_Home: return DesktopKey::Home;
    case GDK_KEY_End: case GDK_KEY_KP_End: return DesktopKey::End;
    case GDK_KEY_KP_Left: return DesktopKey::Left;
    case GDK_KEY_KP_Right: return DesktopKey::Right;
    default: return std::nullopt;
  }
}

/// The clipboard's text as one line: a single-line field would take a line break as Return.
std::string clipboardLine(GtkWidget* widget) {
  gchar* text = gtk_clipboard_wait_for_text(gtk_widget_get_clipboard(widget, GDK_SELECTION_CLIPBOARD));
  if (!text) return {};
  std::string line(text);
  g_free(text);
  for (char& c : line)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return line;
}

gboolean onKey(GtkWidget* widget, GdkEventKey* event, gpointer data) {
  auto* state = static_cast<State*>(data);
  const bool control = (event->state & GDK_CONTROL_MASK) != 0;
  const guint lower = gdk_keyval_to_lower(event->keyval);
  if (control && lower == GDK_KEY_a) {
    state->host->pressKey(DesktopKey::SelectAll);
  } else if ((control && lower == GDK_KEY_v) || ((event->state & GDK_SHIFT_MASK) && event->keyval == GDK_KEY_Insert)) {
    if (std::string line = clipboardLine(widget); !line.empty()) state->host->insertText(line);
  } else if (auto key = keyOf(event->keyval)) {
    state->host->pressKey(*key);
  } else {
    gunichar c = gdk_keyval_to_unicode(event->keyval);
    // Other shortcuts with Control or Alt are not typing.
    if (c == 0 || g_unichar_iscntrl(c) || (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK))) return FALSE;
    char utf8[8] = {};
    int n = g_unichar_to_utf8(c, utf8);
    state->host->insertText(std::string(utf8, static_cast<std::size_t>(n)));
  }
  afterInput(state);
  return TRUE;
}

void onSize(GtkWidget*, GdkRectangle* allocation, gpointer data) {
  auto* state = static_cast<State*>(data);
  CGSize size{static_cast<double>(allocation->width), static_cast<double>(allocation->height)};
  if (size == state->screen) return;
  state->screen = size;
  state->host->resizeScreen(size);
  afterInput(state);
}

/// Hands each frame of the window's frame clock to the display links, on the process clock.
gboolean onDisplayFrame(GtkWidget*, GdkFrameClock* clock, gpointer) {
  gint64 refreshUs = 0;
  gdk_frame_clock_get_refresh_info(clock, gdk_frame_clock_get_frame_time(clock), &refreshUs, nullptr);
  const double sinceFrame = static_cast<double>(g_get_monotonic_time() - gdk_frame_clock_get_frame_time(clock)) / 1e6;
  dispatch::DisplayFrames::deliver(CACurrentMediaTime() - sinceFrame, static_cast<double>(refreshUs) / 1e6);
  return G_SOURCE_CONTINUE;
}

/// The frame clock runs for the display links only while one listens.
void followDisplayLinks(State* state, bool wanted) {
  if (wanted && !state->frameTick && state->area) {
    state->frameTick = gtk_widget_add_tick_callback(state->area, onDisplayFrame, state, nullptr);
  } else if (!wanted && state->frameTick) {
    if (state->area) gtk_widget_remove_tick_callback(state->area, state->frameTick);
    state->frameTick = 0;
  }
}

// The desktop's window events are the application's lifecycle: focus in and out make it active and
// inactive, minimising sends it to the background, and the first time a window is on the screen
// it says so (the app's start ends there).

gboolean onFocusIn(GtkWidget* window, GdkEventFocus*, gpointer) {
  const bool minimised = gtk_widget_get_window(window) &&
                         (gdk_window_get_state(gtk_widget_get_window(window)) & GDK_WINDOW_STATE_ICONIFIED);
  if (!minimised) UIApplication::shared().setApplicationState(UIApplicationState::Active);
  return FALSE;
}

gboolean onFocusOut(GtkWidget*, GdkEventFocus*, gpointer) {
  auto& application = UIApplication::shared();
  if (application.applicationState() == UIApplicationState::Active)
    application.setApplicationState(UIApplicationState::Inactive);
  return FALSE;
}

gboolean onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer) {
  if (!(event->changed_mask & GDK_WINDOW_STATE_ICONIFIED)) return FALSE;
  auto& application = UIApplication::shared();
  if (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) {
    application.setApplicationState(UIApplicationState::Background);
  } else if (application.applicationState() == UIApplicationState::Background) {
    application.setApplicationState(UIApplicationState::Inactive);
  }
  return FALSE;
}

gboolean onMapped(GtkWidget*, GdkEvent*, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (state->shown) return FALSE;
  state->shown = true;
  foundation::NotificationCenter::defaultCenter().postFromSender(UIWindowDidBecomeVisibleNotification, state);
  return FALSE;
}

void onDestroy(GtkWidget*, gpointer data) {
  auto* state = static_cast<State*>(data);
  state->open = false;
  state->window = nullptr;
  state->area = nullptr;
  state->tick = 0;
  state->frameTick = 0;
}

}  // namespace

foundation::Result<std::unique_ptr<DesktopWindow>> DesktopWindow::open(std::shared_ptr<DesktopHost> host,
                                                                        Options options) {
  if (!host) return makeUIKitError(UIKitError::Drawing, "no host to show");
  if (!gtk_init_check(nullptr, nullptr)) return makeUIKitError(UIKitError::Drawing, "no display to open a window on");
  auto state = std::make_unique<State>();
  State* s = state.get();
  s->host = std::move(host);
  s->screen = options.size;
  s->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(s->window), options.title.c_str());
  s->area = gtk_drawing_area_new();
  int w = static_cast<int>(std::clamp(options.size.width, 1.0, 16384.0));
  int h = static_cast<int>(std::clamp(options.size.height, 1.0, 16384.0));
  gtk_widget_set_size_request(s->area, 1, 1);
  gtk_window_set_default_size(GTK_WINDOW(s->window), w, h);
  gtk_widget_set_can_focus(s->area, TRUE);
  gtk_widget_add_events(s->area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                     GDK_KEY_PRESS_MASK);
  gtk_container_add(GTK_CONTAINER(s->window), s->area);
  g_signal_connect(s->area, "draw", G_CALLBACK(onDraw), s);
  g_signal_connect(s->area, "button-press-event", G_CALLBACK(onPress), s);
  g_signal_connect(s->area, "motion-notify-event", G_CALLBACK(onMotion), s);
  g_signal_connect(s->area, "button-release-event", G_CALLBACK(onRelease), s);
  g_signal_connect(s->area, "key-press-event", G_CALLBACK(onKey), s);
  g_signal_connect(s->area, "size-allocate", G_CALLBACK(onSize), s);
  g_signal_connect(s->window, "destroy", G_CALLBACK(onDestroy), s);
  g_signal_connect(s->window, "focus-in-event", G_CALLBACK(onFocusIn), s);
  g_signal_connect(s->window, "focus-out-event", G_CALLBACK(onFocusOut), s);
  g_signal_connect(s->window, "window-state-event", G_CALLBACK(onWindowState), s);
  g_signal_connect(s->window, "map-event", G_CALLBACK(onMapped), s);
  s->host->resizeScreen(options.size);
  gtk_widget_show_all(s->window);
  gtk_widget_grab_focus(s->area);
  s->open = true;
  s->pump = g_timeout_add(kMainQueueIntervalMs, onPump, s);
  dispatch::DisplayFrames::setSource([s](bool wanted) { followDisplayLinks(s, wanted); });
  return std::unique_ptr<DesktopWindow>(new DesktopWindow(std::move(state)));
}

DesktopWindow::DesktopWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}

DesktopWindow::~DesktopWindow() {
  dispatch::DisplayFrames::setSource(nullptr);
  if (state_->pump) g_source_remove(state_->pump);
  if (state_->window) gtk_widget_destroy(state_->window);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

bool DesktopWindow::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (!done()) {
    if (!state_->open || std::chrono::steady_clock::now() >= deadline) return done();
    // Blocks at most until the next main-queue look.
    gtk_main_iteration_do(TRUE);
  }
  return true;
}

void DesktopWindow::run() {
  runUntil([] { return false; }, 1e12);
}

void DesktopWindow::setNeedsDisplay() {
  if (state_->area) {
    gtk_widget_queue_draw(state_->area);
    followAnimations(state_.get());
  }
}

std::size_t DesktopWindow::framesDrawn() const { return state_->frames; }

bool DesktopWindow::isOpen() const { return state_->open; }

void* DesktopWindow::nativeWindow() const { return state_->window; }

foundation::Result<std::shared_ptr<UIImage>> DesktopWindow::screenshot() const {
  if (!state_->area) return makeUIKitError(UIKitError::Drawing, "the window is closed");
  GdkWindow* window = gtk_widget_get_window(state_->area);
  int w = gtk_widget_get_allocated_width(state_->area), h = gtk_widget_get_allocated_height(state_->area);
  GdkPixbuf* pixbuf = window ? gdk_pixbuf_get_from_window(window, 0, 0, w, h) : nullptr;
  if (!pixbuf) return makeUIKitError(UIKitError::Drawing, "cannot read the window's pixels");
  auto image = UIImage::createWithCGImage(detail::bitmapOfPixbuf(pixbuf), gtk_widget_get_scale_factor(state_->area));
  g_object_unref(pixbuf);
  return image;
}

}  // namespace uikit
