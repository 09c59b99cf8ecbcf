#include "platform/uikit/DesktopWindow.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include <glib-unix.h>
#include <gtk/gtk.h>

#include "platform/dispatch/CallbackGuard.h"
#include "platform/dispatch/Clock.h"
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

/// How often the main queue is looked at when the run loop's event descriptor cannot be watched:
/// short enough that timers and posted blocks run without a visible delay.
constexpr guint kMainQueueFallbackIntervalMs = 8;

/// The longest single wait of runUntil(): an hour, in milliseconds well inside GTK's timer range.
constexpr double kLongestWaitSeconds = 3600.0;

struct DesktopWindow::State {
  std::shared_ptr<DesktopHost> host;
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  guint pump = 0;  ///< the watch of the main queue's event descriptor (or the fallback timer)
  guint tick = 0;
  guint frameTick = 0;
  std::size_t frames = 0;
  /// The pixels of the picture last shown, to tell whether the tree's picture changed.
  std::vector<unsigned char> shownPixels;
  int shownWidth = 0;
  int shownHeight = 0;
  bool open = false;
  bool pressed = false;
  bool shown = false;
  CGSize screen;
};

namespace {

using State = DesktopWindow::State;

/// Runs the body of a toolkit callback behind the shared barrier; a failure reports `failed`
/// to the toolkit (an event not handled, a source kept or removed).
template <typename Body, typename Result = std::invoke_result_t<Body>>
Result guarded(const char* callback, Body&& body, Result failed) noexcept {
  return dispatch::guardCallback(callback, std::forward<Body>(body), [failed](const char*) { return failed; });
}

/// The same for callbacks that return nothing.
template <typename Body>
void guarded(const char* callback, Body&& body) noexcept {
  dispatch::guardCallback(callback, std::forward<Body>(body), [](const char*) {});
}

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

gboolean onTick(GtkWidget* widget, GdkFrameClock*, gpointer data) noexcept {
  auto* state = static_cast<State*>(data);
  gtk_widget_queue_draw(widget);
  const bool animating = dispatch::guardCallback(
      "window animation tick", [&] { return anyAnimations(*state->host); }, [](const char*) { return false; });
  if (animating) return G_SOURCE_CONTINUE;
  state->tick = 0;
  return G_SOURCE_REMOVE;
}

/// Keeps frames coming at the display's rate while something animates.
void followAnimations(State* state) {
  if (state->tick || !state->area) return;
  if (anyAnimations(*state->host)) state->tick = gtk_widget_add_tick_callback(state->area, onTick, state, nullptr);
}

gboolean drawWindow(GtkWidget* widget, cairo_t* cr, State* state);

gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer data) noexcept {
  return guarded("window draw", [&] { return drawWindow(widget, cr, static_cast<State*>(data)); }, FALSE);
}

/// Lays out the shown views and draws them at media time `now` into a frame bitmap of the
/// window's size in device pixels; none when the window has no drawable size.
detail::SurfacePtr renderFrame(GtkWidget* widget, State* state, double now) {
  const int scale = gtk_widget_get_scale_factor(widget);
  // Windows are drawn bottom first into one picture of the screen, each at its place, so a
  // window above (a banner's) shows over the one below, and its blur blurs what is below.
  auto views = state->host->displayedViews();
  for (const auto& view : views) view->layoutIfNeeded();
  const int width = gtk_widget_get_allocated_width(widget) * scale;
  const int height = gtk_widget_get_allocated_height(widget) * scale;
  if (width <= 0 || height <= 0 || width > detail::kMaxBitmapSide || height > detail::kMaxBitmapSide) return nullptr;
  auto frame = detail::scratchSurface(CAIRO_FORMAT_ARGB32, width, height);
  if (!frame || cairo_surface_status(frame.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_set_device_scale(frame.get(), scale, scale);
  {
    detail::ContextPtr picture(cairo_create(frame.get()));
    Renderer::drawScreen(picture.get(), views, now);
  }
  cairo_surface_flush(frame.get());
  return frame;
}

std::size_t pixelBytes(cairo_surface_t* frame) {
  return static_cast<std::size_t>(cairo_image_surface_get_stride(frame)) *
         static_cast<std::size_t>(cairo_image_surface_get_height(frame));
}

bool isShown(const State& state, cairo_surface_t* frame) {
  return cairo_image_surface_get_width(frame) == state.shownWidth &&
         cairo_image_surface_get_height(frame) == state.shownHeight &&
         pixelBytes(frame) == state.shownPixels.size() &&
         std::memcmp(cairo_image_surface_get_data(frame), state.shownPixels.data(), state.shownPixels.size()) == 0;
}

void rememberShown(State& state, cairo_surface_t* frame) {
  const auto* data = cairo_image_surface_get_data(frame);
  state.shownPixels.assign(data, data + pixelBytes(frame));
  state.shownWidth = cairo_image_surface_get_width(frame);
  state.shownHeight = cairo_image_surface_get_height(frame);
}

gboolean drawWindow(GtkWidget* widget, cairo_t* cr, State* state) {
  // Each frame is drawn into a kept bitmap of the window's size, then shown.
  auto frame = renderFrame(widget, state, CACurrentMediaTime());
  if (frame) {
    cairo_set_source_surface(cr, frame.get(), 0, 0);
    rememberShown(*state, frame.get());
  } else {
    cairo_set_source_rgb(cr, 0, 0, 0);
    state->shownPixels.clear();
  }
  cairo_paint(cr);
  ++state->frames;
  followAnimations(state);
  return TRUE;
}

/// Whether the shown views would now draw a picture other than the one on the screen. Blocks on
/// the main queue run often with nothing to show (timers, pings, bookkeeping) and views keep no
/// record of what changed in them, so the tree is drawn off screen within this wake-up and
/// compared: asking the toolkit for a frame would cost the main thread further wake-ups and
/// redraw the same picture.
bool pictureChanged(State* state) {
  auto frame = renderFrame(state->area, state, CACurrentMediaTime());
  if (!frame) return !state->shownPixels.empty();
  return !isShown(*state, frame.get());
}

/// Runs what the main queue holds and redraws when something that ran changed the picture.
void runMainQueue(State* state) noexcept {
  // A block that throws ends the drain, but what the blocks before it changed still shows.
  bool ran = true;
  guarded("main queue", [&] { ran = dispatch::drainMainQueue() > 0; });
  if (!ran || !state->area) return;
  guarded("window redraw", [&] {
    followAnimations(state);
    if (state->tick || pictureChanged(state)) gtk_widget_queue_draw(state->area);
  });
}

/// The main queue's event descriptor became readable: a block was queued or a timer is due.
gboolean onMainQueueReady(gint, GIOCondition, gpointer data) noexcept {
  runMainQueue(static_cast<State*>(data));
  return G_SOURCE_CONTINUE;
}

gboolean onMainQueueTimer(gpointer data) noexcept {
  runMainQueue(static_cast<State*>(data));
  return G_SOURCE_CONTINUE;
}

void afterInput(State* state) {
  dispatch::drainMainQueue();
  gtk_widget_queue_draw(state->area);
  followAnimations(state);
}

gboolean handlePress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (event->button != 1 || event->type != GDK_BUTTON_PRESS) return FALSE;
  state->pressed = true;
  state->host->handleTouch(DesktopTouchPhase::Began, {event->x, event->y});
  afterInput(state);
  return TRUE;
}

gboolean handleMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (!state->pressed) return FALSE;
  state->host->handleTouch(DesktopTouchPhase::Moved, {event->x, event->y});
  afterInput(state);
  return TRUE;
}

gboolean handleRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
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

gboolean handleKey(GtkWidget* widget, GdkEventKey* event, gpointer data) {
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

void handleSize(GtkWidget*, GdkRectangle* allocation, gpointer data) {
  auto* state = static_cast<State*>(data);
  CGSize size{static_cast<double>(allocation->width), static_cast<double>(allocation->height)};
  if (size == state->screen) return;
  state->screen = size;
  state->host->resizeScreen(size);
  afterInput(state);
}

/// Hands each frame of the window's frame clock to the display links, on the process clock.
gboolean handleDisplayFrame(GtkWidget*, GdkFrameClock* clock, gpointer) {
  gint64 refreshUs = 0;
  gdk_frame_clock_get_refresh_info(clock, gdk_frame_clock_get_frame_time(clock), &refreshUs, nullptr);
  const double sinceFrame = static_cast<double>(g_get_monotonic_time() - gdk_frame_clock_get_frame_time(clock)) / 1e6;
  dispatch::DisplayFrames::deliver(CACurrentMediaTime() - sinceFrame, static_cast<double>(refreshUs) / 1e6);
  return G_SOURCE_CONTINUE;
}

// The toolkit's callbacks: each runs its handler behind the barrier, so nothing the app throws
// unwinds through GTK. An input event whose handler failed counts as not handled.

gboolean onPress(GtkWidget* widget, GdkEventButton* event, gpointer data) noexcept {
  return guarded("window button press", [&] { return handlePress(widget, event, data); }, FALSE);
}

gboolean onMotion(GtkWidget* widget, GdkEventMotion* event, gpointer data) noexcept {
  return guarded("window pointer motion", [&] { return handleMotion(widget, event, data); }, FALSE);
}

gboolean onRelease(GtkWidget* widget, GdkEventButton* event, gpointer data) noexcept {
  return guarded("window button release", [&] { return handleRelease(widget, event, data); }, FALSE);
}

gboolean onKey(GtkWidget* widget, GdkEventKey* event, gpointer data) noexcept {
  return guarded("window key press", [&] { return handleKey(widget, event, data); }, FALSE);
}

void onSize(GtkWidget* widget, GdkRectangle* allocation, gpointer data) noexcept {
  guarded("window size", [&] { handleSize(widget, allocation, data); });
}

gboolean onDisplayFrame(GtkWidget* widget, GdkFrameClock* clock, gpointer data) noexcept {
  return guarded("display frame", [&] { return handleDisplayFrame(widget, clock, data); }, G_SOURCE_CONTINUE);
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

gboolean onFocusIn(GtkWidget* window, GdkEventFocus*, gpointer) noexcept {
  guarded("window focus in", [&] {
    const bool minimised = gtk_widget_get_window(window) &&
                           (gdk_window_get_state(gtk_widget_get_window(window)) & GDK_WINDOW_STATE_ICONIFIED);
    if (!minimised) UIApplication::shared().setApplicationState(UIApplicationState::Active);
  });
  return FALSE;
}

gboolean onFocusOut(GtkWidget*, GdkEventFocus*, gpointer) noexcept {
  guarded("window focus out", [] {
    auto& application = UIApplication::shared();
    if (application.applicationState() == UIApplicationState::Active)
      application.setApplicationState(UIApplicationState::Inactive);
  });
  return FALSE;
}

gboolean onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer) noexcept {
  if (!(event->changed_mask & GDK_WINDOW_STATE_ICONIFIED)) return FALSE;
  guarded("window state", [&] {
    auto& application = UIApplication::shared();
    if (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) {
      application.setApplicationState(UIApplicationState::Background);
    } else if (application.applicationState() == UIApplicationState::Background) {
      application.setApplicationState(UIApplicationState::Inactive);
    }
  });
  return FALSE;
}

gboolean onMapped(GtkWidget*, GdkEvent*, gpointer data) noexcept {
  auto* state = static_cast<State*>(data);
  if (state->shown) return FALSE;
  state->shown = true;
  guarded("window mapped", [&] {
    foundation::NotificationCenter::defaultCenter().postFromSender(UIWindowDidBecomeVisibleNotification, state);
  });
  return FALSE;
}

/// Ends one wait of runUntil(); `data` is its flag.
gboolean onWaitOver(gpointer data) noexcept {
  *static_cast<bool*>(data) = true;
  return G_SOURCE_REMOVE;
}

void onDestroy(GtkWidget*, gpointer data) noexcept {
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
  // The main queue runs when its event descriptor says there is work; the window sleeps otherwise.
  const int wake = dispatch::mainLoopWakeDescriptor();
  s->pump = wake >= 0 ? g_unix_fd_add(wake, G_IO_IN, onMainQueueReady, s)
                      : g_timeout_add(kMainQueueFallbackIntervalMs, onMainQueueTimer, s);
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

bool DesktopWindow::runUntil(const std::function<bool()>& done, double timeoutSeconds, dispatch::Recheck recheck) {
  using Steady = std::chrono::steady_clock;
  const bool limited = std::isfinite(timeoutSeconds);
  const auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(
                                            limited ? std::clamp(timeoutSeconds, 0.0, 1e9) : 0.0));
  int idleWakeUps = 0;
  while (!done()) {
    const double left = limited ? std::chrono::duration<double>(deadline - Steady::now()).count() : dispatch::kForever;
    if (!state_->open || left <= 0) return done();
    // GTK sleeps until an event, the main queue's descriptor or this timer: the deadline, or the
    // recheck of a condition another thread may change without waking the loop. A longer wait
    // is slept in parts of kLongestWaitSeconds, whose milliseconds fit GTK's timer.
    const double recheckAfter =
        recheck == dispatch::Recheck::Periodically ? dispatch::mainLoopRecheckSeconds(idleWakeUps) : dispatch::kForever;
    const double sleep = std::min({recheckAfter, left, kLongestWaitSeconds});
    bool timedOut = false;
    const guint timer = g_timeout_add(static_cast<guint>(std::ceil(sleep * 1000.0)), onWaitOver, &timedOut);
    gtk_main_iteration_do(TRUE);
    if (!timedOut) g_source_remove(timer);
    idleWakeUps = (timedOut && sleep >= recheckAfter) ? idleWakeUps + 1 : 0;
  }
  return true;
}

void DesktopWindow::run() {
  runUntil([] { return false; }, dispatch::kForever, dispatch::Recheck::Never);
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
