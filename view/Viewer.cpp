#include "view/Viewer.h"

#include "ui/theme/Theme.h"
#include "view/Camera.h"
#include "view/RenderCapture.h"

#include <AIS_AnimationCamera.hxx>
#include <AIS_RubberBand.hxx>
#include <Aspect_DisplayConnection.hxx>
#include <Aspect_NeutralWindow.hxx>
#include <Graphic3d_TransformPers.hxx>
#include <Image_AlienPixMap.hxx>
#include <OpenGl_Context.hxx>
#include <OpenGl_FrameBuffer.hxx>
#include <OpenGl_GraphicDriver.hxx>
#include <OpenGl_View.hxx>
#include <OpenGl_Window.hxx>
#include <Prs3d_ShadingAspect.hxx>
#include <StdSelect_ViewerSelector3d.hxx>
#include <V3d_AmbientLight.hxx>
#include <V3d_DirectionalLight.hxx>
#include <V3d_ImageDumpOptions.hxx>

#include <QCoreApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QSettings>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWheelEvent>

#include <optional>
#include <utility>

namespace qor::app {

namespace {

// Qt's frame buffer as OpenCASCADE's default one; Qt's surface is sRGB-capable, so writes go
// through sRGB conversion like OpenCASCADE's own window buffer.
class QtFrameBuffer : public OpenGl_FrameBuffer {
    DEFINE_STANDARD_RTTI_INLINE(QtFrameBuffer, OpenGl_FrameBuffer)
public:
    void BindBuffer(const Handle(OpenGl_Context)& ctx) override
    {
        OpenGl_FrameBuffer::BindBuffer(ctx);
        ctx->SetFrameBufferSRGB(true, false);
    }
    void BindDrawBuffer(const Handle(OpenGl_Context)& ctx) override
    {
        OpenGl_FrameBuffer::BindDrawBuffer(ctx);
        ctx->SetFrameBufferSRGB(true, false);
    }
};

Handle(Graphic3d_Camera) copyOf(const Handle(Graphic3d_Camera)& camera)
{
    Handle(Graphic3d_Camera) copy = new Graphic3d_Camera();
    copy->Copy(camera);
    return copy;
}

Handle(OpenGl_Context) glContextOf(const Handle(V3d_View)& view)
{
    Handle(OpenGl_View) glView = Handle(OpenGl_View)::DownCast(view->View());
    if (glView.IsNull() || glView->GlWindow().IsNull())
        return nullptr;
    return glView->GlWindow()->GetGlContext();
}

void addDirectionalLight(const Handle(V3d_Viewer)& viewer, const gp_Dir& direction,
                         const Quantity_Color& color, double intensity, bool headlight)
{
    Handle(V3d_DirectionalLight) light = new V3d_DirectionalLight(direction, color, headlight);
    light->SetIntensity(intensity);
    viewer->AddLight(light);
}

void setupLights(const Handle(V3d_Viewer)& viewer)
{
    viewer->AddLight(new V3d_AmbientLight(Quantity_Color(0.30, 0.33, 0.40, Quantity_TOC_RGB)));
    addDirectionalLight(viewer, gp_Dir(-0.25, 0.35, -1.0), Quantity_NOC_WHITE, 0.55, true);
    addDirectionalLight(viewer, gp_Dir(-0.4, -0.6, -1.0),
                        Quantity_Color(0.80, 0.86, 1.00, Quantity_TOC_RGB), 0.45, false);
    addDirectionalLight(viewer, gp_Dir(0.6, 0.8, 0.3),
                        Quantity_Color(0.55, 0.85, 1.00, Quantity_TOC_RGB), 0.10, false);
    viewer->SetLightOn();
}

void setHighlight(const Handle(AIS_InteractiveContext)& context, Prs3d_TypeOfHighlight type,
                  const Quantity_Color& color, int displayMode, double transparency)
{
    const Handle(Prs3d_Drawer)& style = context->HighlightStyle(type);
    style->SetColor(color);
    if (displayMode >= 0)
        style->SetDisplayMode(displayMode);
    if (transparency >= 0.0)
        style->SetTransparency(float(transparency));
}

Handle(AIS_ViewCube) makeViewCube(const Handle(AIS_AnimationCamera)& animation,
                                  const Quantity_Color& hover)
{
    const Theme& theme = Theme::instance();
    Handle(AIS_ViewCube) cube = new AIS_ViewCube();
    cube->SetViewAnimation(animation);
    // Advanced by the view's repaints, not by a blocking loop.
    cube->SetFixedAnimationLoop(false);
    cube->SetAutoStartAnimation(true);
    cube->SetSize(58);
    cube->SetBoxColor(srgbColor(Theme::mix(theme.bg2, theme.bg3, 0.6)));
    cube->SetTransparency(0.15);
    cube->SetFontHeight(13);
    cube->SetTextColor(hover);
    cube->SetBoxSideLabel(V3d_Zpos, "OBEN");
    cube->SetBoxSideLabel(V3d_Zneg, "UNTEN");
    cube->SetBoxSideLabel(V3d_Yneg, "VORNE");
    cube->SetBoxSideLabel(V3d_Ypos, "HINTEN");
    cube->SetBoxSideLabel(V3d_Xneg, "LINKS");
    cube->SetBoxSideLabel(V3d_Xpos, "RECHTS");
    cube->SetDrawAxes(true);
    cube->SetAxesLabels("X", "Y", "Z");
    cube->SetBoxEdgeGap(0);
    cube->SetRoundRadius(0.1);
    cube->SetTransformPersistence(new Graphic3d_TransformPers(
        Graphic3d_TMF_TriedronPers, Aspect_TOTP_RIGHT_UPPER, Graphic3d_Vec2i(90, 90)));
    Handle(Prs3d_Drawer) hoverDrawer = new Prs3d_Drawer();
    hoverDrawer->SetColor(hover);
    hoverDrawer->SetDisplayMode(0);
    hoverDrawer->SetupOwnShadingAspect();
    hoverDrawer->ShadingAspect()->SetColor(hover);
    cube->SetDynamicHilightAttributes(hoverDrawer);
    return cube;
}

} // namespace

Viewer::Viewer(QWidget* parent)
    : QOpenGLWidget(parent)
{
    Handle(OpenGl_GraphicDriver) driver
        = new OpenGl_GraphicDriver(new Aspect_DisplayConnection(), false);
    // Qt swaps the buffers and owns the alpha channel and the frame buffer.
    driver->ChangeOptions().buffersNoSwap = true;
    driver->ChangeOptions().buffersOpaqueAlpha = true;
    driver->ChangeOptions().useSystemBuffer = false;

    const Theme& theme = Theme::instance();
    const Quantity_Color hover = srgbColor(theme.accent);
    const Quantity_Color selection = srgbColor(theme.accent3);

    viewer_ = new V3d_Viewer(driver);
    viewer_->SetDefaultShadingModel(Graphic3d_TypeOfShadingModel_Phong);
    setupLights(viewer_);

    context_ = new AIS_InteractiveContext(viewer_);
    context_->SetPixelTolerance(6);
    setHighlight(context_, Prs3d_TypeOfHighlight_Selected, selection, 1, -1.0);
    setHighlight(context_, Prs3d_TypeOfHighlight_Dynamic, hover, 1, 0.15);
    setHighlight(context_, Prs3d_TypeOfHighlight_LocalSelected, selection, -1, 0.10);
    setHighlight(context_, Prs3d_TypeOfHighlight_LocalDynamic, hover, -1, 0.25);

    view_ = viewer_->CreateView();
    view_->SetImmediateUpdate(false);
    Graphic3d_RenderingParams& params = view_->ChangeRenderingParams();
    params.IsAntialiasingEnabled = true;
    params.NbMsaaSamples = 4;
    params.ToShowStats = false;
    params.Resolution = unsigned(qRound(devicePixelRatioF() * 96.0));
    view_->SetShadingModel(Graphic3d_TypeOfShadingModel_Phong);
    setBackgroundGradient(srgbColor(Theme::mix(theme.bg2, theme.bg3, 0.35)), srgbColor(theme.bg0));

    viewCube_ = makeViewCube(ViewAnimation(), hover);

    applyMouseGestures();
    SetRotationMode(AIS_RotationMode_PickLast);
    SetAllowDragging(false);
    SetStickToRayOnZoom(true);
    SetStickToRayOnRotation(true);

    setMouseTracking(true);
    setBackgroundRole(QPalette::NoRole);
    setFocusPolicy(Qt::WheelFocus);
    setUpdatesEnabled(true);
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    QSurfaceFormat format;
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    format.setVersion(4, 5);
    format.setProfile(QSurfaceFormat::CoreProfile);
    setFormat(format);
}

// OpenCASCADE's OpenGL resources must go while Qt's context is still current, and before the
// handles that own them; the other way round it hangs or crashes.
Viewer::~Viewer()
{
    try {
        makeCurrent();
        context_->RemoveAll(false);
        view_->Remove();
        doneCurrent();
        renderLight_.Nullify();
        ground_.Nullify();
        sectionPlane_.Nullify();
        viewCube_.Nullify();
        context_.Nullify();
        view_.Nullify();
        viewer_.Nullify();
    } catch (...) {
    }
}

void Viewer::setViewCubeVisible(bool visible)
{
    viewCubeShown_ = visible;
    if (visible)
        context_->Display(viewCube_, 0, 0, false);
    else
        context_->Remove(viewCube_, false);
    update();
}

void Viewer::setBackgroundGradient(const Quantity_Color& top, const Quantity_Color& bottom)
{
    view_->SetBgGradientColors(top, bottom, Aspect_GradientFillMethod_Vertical, false);
    update();
}

void Viewer::requestRedraw()
{
    view_->Invalidate();
    progressiveFrames_ = 0;
    update();
}

void Viewer::OnSelectionChanged(const Handle(AIS_InteractiveContext)&, const Handle(V3d_View)&)
{
    emit selectionChanged();
}

bool Viewer::animating() const
{
    return toAskNextFrame() || !ViewAnimation()->IsStopped();
}

void Viewer::handleViewRedraw(const Handle(AIS_InteractiveContext)& ctx,
                              const Handle(V3d_View)& view)
{
    AIS_ViewController::handleViewRedraw(ctx, view);
    // Camera and view-cube animations advance one step per frame.
    if (toAskNextFrame())
        update();
}

void Viewer::contextLazyMoveTo(const Handle(AIS_InteractiveContext)& ctx,
                               const Handle(V3d_View)& view, const Graphic3d_Vec2i& point)
{
    AIS_ViewController::contextLazyMoveTo(ctx, view, point);
    // Each round refines one object; a bound keeps a stack of them from holding the pointer.
    bool refined = false;
    for (int round = 0; round < 32 && detectionRefiner && detectionRefiner(); ++round) {
        ctx->MoveTo(point.x(), point.y(), view, false);
        refined = true;
    }
    if (refined)
        view->InvalidateImmediate();
}

void Viewer::handleSelectionPoly(const Handle(AIS_InteractiveContext)& ctx,
                                 const Handle(V3d_View)& view)
{
    if (myGL.Selection.ToApplyTool && areaRefiner) {
        // The rectangle the controller is about to select with: the latest corners of the
        // drag, else those its rubber band keeps (stored with y negated).
        std::optional<std::pair<Graphic3d_Vec2i, Graphic3d_Vec2i>> corners;
        const auto& points = myGL.Selection.Points;
        if (myGL.Selection.Tool == AIS_ViewSelectionTool_RubberBand && points.Size() >= 2) {
            corners.emplace(points.First(), points.Last());
        } else if (!myRubberBand.IsNull() && ctx->IsDisplayed(myRubberBand)
                   && myRubberBand->Points().Size() == 4) {
            const Graphic3d_Vec2i first = myRubberBand->Points().Value(1);
            const Graphic3d_Vec2i third = myRubberBand->Points().Value(3);
            corners.emplace(Graphic3d_Vec2i(first.x(), -first.y()),
                            Graphic3d_Vec2i(third.x(), -third.y()));
        }
        if (corners) {
            const auto& [a, b] = *corners;
            const Handle(StdSelect_ViewerSelector3d)& selector = ctx->MainSelector();
            // Everything the rectangle touches: something only touched may still have parts
            // wholly inside. Dragged upwards, the controller selects what it touches.
            selector->AllowOverlapDetection(true);
            selector->Pick(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::max(a.x(), b.x()),
                           std::max(a.y(), b.y()), view);
            selector->AllowOverlapDetection(false);
            areaRefiner();
        }
    }
    AIS_ViewController::handleSelectionPoly(ctx, view);
}

void Viewer::initializeGL()
{
    const QRect area = rect();
    const double ratio = devicePixelRatioF();
    const auto nativeWindow = Aspect_Drawable(window()->winId());

    Handle(OpenGl_Context) glContext = new OpenGl_Context();
    if (!glContext->Init(true)) {
        QMessageBox::critical(nullptr, QStringLiteral("QorCAD"),
                              QStringLiteral("OpenGL konnte nicht initialisiert werden.\n"
                                             "Bitte Grafiktreiber prüfen (OpenGL 3.3 oder "
                                             "neuer)."));
        QCoreApplication::exit(1);
        return;
    }

    Handle(Aspect_NeutralWindow) neutral = Handle(Aspect_NeutralWindow)::DownCast(view_->Window());
    const bool first = neutral.IsNull();
    if (first) {
        neutral = new Aspect_NeutralWindow();
        neutral->SetVirtual(true);
    }
    neutral->SetNativeHandle(nativeWindow);
    neutral->SetSize(int((area.right() - area.left() + 1) * ratio),
                     int((area.bottom() - area.top() + 1) * ratio));
    view_->SetWindow(neutral, glContext->RenderingContext());
    if (!first)
        return;
    if (viewCubeShown_)
        context_->Display(viewCube_, 0, 0, false);
    emit initialized();
}

void Viewer::paintGL()
{
    if (view_->Window().IsNull())
        return;
    if (view_->Window()->NativeHandle() != Aspect_Drawable(window()->winId())) {
        initializeGL();
        return;
    }
    const Handle(OpenGl_Context) glContext = glContextOf(view_);
    if (glContext.IsNull())
        return;
    Handle(OpenGl_FrameBuffer) frameBuffer = glContext->DefaultFrameBuffer();
    if (frameBuffer.IsNull()) {
        frameBuffer = new QtFrameBuffer();
        glContext->SetDefaultFrameBuffer(frameBuffer);
    }
    if (!frameBuffer->InitWrapper(glContext))
        return;

    const Graphic3d_Vec2i size = frameBuffer->GetVPSize();
    int width = 0;
    int height = 0;
    view_->Window()->Size(width, height);
    if (size.x() != width || size.y() != height) {
        Handle(Aspect_NeutralWindow)::DownCast(view_->Window())->SetSize(size.x(), size.y());
        view_->MustBeResized();
        view_->Invalidate();
    }

    view_->InvalidateImmediate();
    FlushViewEvents(context_, view_, true);

    if (renderMode_ == 2 && progressiveFrames_ < progressiveFrameLimit) {
        ++progressiveFrames_;
        QTimer::singleShot(0, this, [this] { update(); });
    }
    if (!firstFrameDrawn_) {
        firstFrameDrawn_ = true;
        QSettings().remove(QStringLiteral("glStartPending"));
    }
}

Graphic3d_Vec2i Viewer::devicePoint(const QPointF& logical) const
{
    const double ratio = devicePixelRatioF();
    return Graphic3d_Vec2i(int(logical.x() * ratio), int(logical.y() * ratio));
}

void Viewer::applyMouseGestures()
{
    AIS_MouseGestureMap& map = ChangeMouseGestureMap();
    map.Clear();
    for (const GestureBinding& binding : mouseGestureTable(navigationScheme_))
        map.Bind(binding.buttons | binding.modifiers, binding.gesture);
    AIS_MouseSelectionSchemeMap& schemes = ChangeMouseSelectionSchemes();
    schemes.Clear();
    for (const SelectionSchemeBinding& binding : selectionSchemeTable())
        schemes.Bind(binding.buttons | binding.modifiers, binding.scheme);
}

void Viewer::setNavigationMode(int scheme)
{
    navigationScheme_ = scheme;
    applyMouseGestures();
}

void Viewer::setLeftButtonOrbit(bool on)
{
    leftButtonOrbit_ = on;
    setCursor(on ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

void Viewer::mousePressEvent(QMouseEvent* e)
{
    setFocus(Qt::OtherFocusReason);
    if (press_.press(e->button(), e->position(), leftButtonOrbit_))
        return;
    if (e->button() == Qt::LeftButton && inputHandler_ && inputHandler_->mousePress(e))
        return;
    if (UpdateMouseButtons(devicePoint(e->position()), toVKeyMouse(e->buttons()),
                           toVKeyFlags(e->modifiers()), false))
        update();
}

void Viewer::mouseMoveEvent(QMouseEvent* e)
{
    const Aspect_VKeyFlags flags = toVKeyFlags(e->modifiers());
    switch (press_.move(e->position(), e->buttons())) {
    case PressTracker::Move::Ignore: return;
    case PressTracker::Move::Start:
        // Whichever button was held back, the drag is the right button's gesture.
        setCursor(e->modifiers() & Qt::ShiftModifier ? Qt::SizeAllCursor : Qt::ClosedHandCursor);
        if (UpdateMouseButtons(devicePoint(press_.pressPosition()), Aspect_VKeyMouse_RightButton,
                               flags, false))
            update();
        return;
    case PressTracker::Move::Drag:
        if (UpdateMousePosition(devicePoint(e->position()), Aspect_VKeyMouse_RightButton, flags,
                                false))
            update();
        return;
    case PressTracker::Move::Pass: break;
    }
    // A handler cannot take middle-button navigation away.
    if (inputHandler_ && inputHandler_->mouseMove(e) && !(e->buttons() & Qt::MiddleButton))
        return;
    if (press_.holdSelectionMove(e->position(), e->buttons())) {
        emit hovered();
        return;
    }
    if (UpdateMousePosition(devicePoint(e->position()), toVKeyMouse(e->buttons()), flags, false))
        update();
    emit hovered();
}

void Viewer::mouseReleaseEvent(QMouseEvent* e)
{
    const Aspect_VKeyFlags flags = toVKeyFlags(e->modifiers());
    switch (press_.release(e->button())) {
    case PressTracker::Release::EndDrag:
        setCursor(Qt::ArrowCursor);
        if (UpdateMouseButtons(devicePoint(e->position()), Aspect_VKeyMouse_NONE, flags, false))
            update();
        return;
    case PressTracker::Release::ContextMenu:
        emit contextMenuAt(e->globalPosition().toPoint());
        return;
    case PressTracker::Release::Click: return;
    case PressTracker::Release::Pass: break;
    }
    if (e->button() == Qt::LeftButton && inputHandler_ && inputHandler_->mouseRelease(e))
        return;
    if (UpdateMouseButtons(devicePoint(e->position()), toVKeyMouse(e->buttons()), flags, false))
        update();
}

void Viewer::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (!inputHandler_ || !inputHandler_->mouseDoubleClick(e))
        QOpenGLWidget::mouseDoubleClickEvent(e);
}

void Viewer::wheelEvent(QWheelEvent* e)
{
    applyNavigation(wheelAction(*e, touchpad_), e->position());
    e->accept();
}

void Viewer::keyPressEvent(QKeyEvent* e)
{
    if (inputHandler_ && inputHandler_->keyPress(e))
        return;
    const NavAction action = keyAction(e->key(), e->modifiers());
    if (action.kind == NavAction::None) {
        QOpenGLWidget::keyPressEvent(e);
        return;
    }
    applyNavigation(action, QPointF());
}

bool Viewer::event(QEvent* e)
{
    if (e->type() != QEvent::NativeGesture)
        return QOpenGLWidget::event(e);
    const auto* gesture = static_cast<QNativeGestureEvent*>(e);
    const NavAction action
        = nativeGestureAction(gesture->gestureType(), gesture->value(), gesture->delta());
    if (action.kind == NavAction::None)
        return QOpenGLWidget::event(e);
    applyNavigation(action, gesture->position());
    return true;
}

void Viewer::applyNavigation(const NavAction& action, const QPointF& cursor)
{
    switch (action.kind) {
    case NavAction::Orbit: orbit(action.dx, action.dy); break;
    case NavAction::Pan: pan(action.dx, action.dy); break;
    case NavAction::Zoom: zoom(action.amount); break;
    case NavAction::WheelZoom:
        if (UpdateZoom(Aspect_ScrollDelta(devicePoint(cursor), action.amount)))
            update();
        break;
    case NavAction::FitAll: fitAll(true); break;
    case NavAction::Roll:
        rollCamera(*view_->Camera(), action.amount);
        requestRedraw();
        break;
    case NavAction::None: break;
    }
}

void Viewer::orbit(double dx, double dy)
{
    orbitCamera(*view_->Camera(), view_->GravityPoint(), dx, dy);
    view_->ZFitAll(1.0);
    requestRedraw();
}

void Viewer::pan(double dx, double dy)
{
    const double ratio = devicePixelRatioF();
    view_->Pan(qRound(dx * ratio), qRound(-dy * ratio), 1.0, true);
    requestRedraw();
}

void Viewer::zoom(double factor)
{
    if (!(factor > 0.0))
        return;
    view_->SetZoom(factor, true);
    view_->ZFitAll(1.0);
    requestRedraw();
}

// A camera move that does not animate is where the view stays; an animation still under way
// would carry the camera on to its own end after it. The animation is finished at once instead,
// so that the move starts from where the view was going.
void Viewer::finishAnimation()
{
    const Handle(AIS_AnimationCamera)& animation = ViewAnimation();
    if (animation->IsStopped())
        return;
    animation->Stop();
    if (!animation->CameraEnd().IsNull())
        view_->Camera()->Copy(animation->CameraEnd());
}

// The view already shows the end camera; it goes back to start and the shared animation
// (the view cube's too) moves it along, one step per repaint.
void Viewer::animateFrom(const Handle(Graphic3d_Camera)& start, double seconds)
{
    Handle(Graphic3d_Camera) end = new Graphic3d_Camera();
    end->Copy(view_->Camera());
    view_->Camera()->Copy(start);
    const Handle(AIS_AnimationCamera)& animation = ViewAnimation();
    animation->Stop();
    animation->SetView(view_);
    animation->SetCameraStart(start);
    animation->SetCameraEnd(end);
    animation->SetOwnDuration(seconds);
    animation->StartTimer(0.0, 1.0, true, false);
    update();
}

void Viewer::setViewOrientation(V3d_TypeOfOrientation orientation, bool animate)
{
    if (!animate)
        finishAnimation();
    const Handle(Graphic3d_Camera) start = copyOf(view_->Camera());
    view_->SetProj(orientation, false);
    fitCamera();
    if (animate)
        animateFrom(start, 0.4);
    else
        update();
}

void Viewer::fitCamera()
{
    // The view's window takes the widget's size only at the next paint; a fit right after a
    // resize would use the old aspect ratio and cut the model off.
    const int width = qRound(this->width() * devicePixelRatioF());
    const int height = qRound(this->height() * devicePixelRatioF());
    Handle(Aspect_NeutralWindow)::DownCast(view_->Window())->SetSize(width, height);
    view_->MustBeResized();
    view_->FitAll(fitAllMargin, false);
    // Keep the model clear of the floating view bar, whose strip is kept free at the top as
    // well, and of panels over the left or right part of the view: the model is fitted into
    // the free rectangle and moved to its centre. Orbits turn about the model's own centre, so
    // an off-centre model still turns in place.
    const double w = std::max(this->width(), 1);
    const double h = std::max(this->height(), 1);
    const QRectF free = fitRect();
    // How far the free rectangle's centre lies right of the view's.
    const double offset = free.center().x() - w / 2.0;
    const Handle(Graphic3d_Camera)& camera = view_->Camera();
    camera->SetScale(camera->Scale() * std::max(h / free.height(), w / free.width()));
    if (offset != 0.0) {
        // The camera's scale spans the shorter side of the view in model units.
        const double shift = offset * camera->Scale() / std::min(w, h);
        const gp_Dir side = camera->Direction().Crossed(camera->Up());
        const gp_Vec move = gp_Vec(side) * -shift;
        camera->SetEyeAndCenter(camera->Eye().Translated(move), camera->Center().Translated(move));
    }
    view_->ZFitAll(1.0);
}

void Viewer::fitAll(bool animate)
{
    if (view_->Window().IsNull())
        return;
    if (!animate)
        finishAnimation();
    const Bnd_Box box = view_->View()->MinMaxValues(false);
    if (box.IsVoid() || box.SquareExtent() < 1e-6) {
        AIS_ListOfInteractive shown;
        context_->DisplayedObjects(shown);
        shown.Remove(viewCube_);
        if (shown.IsEmpty()) {
            const Handle(Graphic3d_Camera)& camera = view_->Camera();
            const gp_Pnt origin(0, 0, 0);
            camera->SetEyeAndCenter(
                origin.Translated(gp_Vec(camera->Direction()) * -camera->Distance()), origin);
            view_->SetSize(emptyViewSize);
            view_->ZFitAll(1.0);
            update();
            return;
        }
    }
    const Handle(Graphic3d_Camera) start = copyOf(view_->Camera());
    fitCamera();
    if (animate)
        animateFrom(start, 0.35);
    else
        update();
}

void Viewer::lookAt(const gp_Ax3& frame, bool animate)
{
    if (!animate)
        finishAnimation();
    const Handle(Graphic3d_Camera) start = copyOf(view_->Camera());
    aimAtPlane(*view_->Camera(), frame);
    view_->ZFitAll(1.0);
    if (animate)
        animateFrom(start, 0.45);
    else
        update();
}

QJsonObject Viewer::cameraState() const
{
    return cameraStateToJson(readCameraState(*view_->Camera()));
}

void Viewer::setCameraState(const QJsonObject& state, bool animate)
{
    const std::optional<CameraState> target = cameraStateFromJson(state);
    if (!target)
        return;
    if (!animate)
        finishAnimation();
    const Handle(Graphic3d_Camera) start = copyOf(view_->Camera());
    applyCameraState(*view_->Camera(), *target);
    view_->ZFitAll(1.0);
    if (animate)
        animateFrom(start, 0.4);
    else
        requestRedraw();
}

void Viewer::setPerspective(bool on)
{
    view_->Camera()->SetProjectionType(on ? Graphic3d_Camera::Projection_Perspective
                                          : Graphic3d_Camera::Projection_Orthographic);
    view_->ZFitAll(1.0);
    update();
}

bool Viewer::isPerspective() const
{
    return view_->Camera()->ProjectionType() == Graphic3d_Camera::Projection_Perspective;
}

bool Viewer::rayToPlane(const QPoint& pixel, const gp_Pln& plane, gp_Pnt& hit) const
{
    if (view_->Window().IsNull())
        return false;
    const double ratio = devicePixelRatioF();
    double x, y, z, dx, dy, dz;
    view_->ConvertWithProj(int(pixel.x() * ratio), int(pixel.y() * ratio), x, y, z, dx, dy, dz);
    const gp_Vec direction(dx, dy, dz);
    if (direction.Magnitude() < 1e-12)
        return false;
    const std::optional<gp_Pnt> point = rayPlaneHit(gp_Lin(gp_Pnt(x, y, z), direction), plane);
    if (!point)
        return false;
    hit = *point;
    return true;
}

QPoint Viewer::toScreen(const gp_Pnt& point) const
{
    int x = 0;
    int y = 0;
    view_->Convert(point.X(), point.Y(), point.Z(), x, y);
    const double ratio = devicePixelRatioF();
    return QPoint(int(x / ratio), int(y / ratio));
}

QRectF Viewer::fitRect() const
{
    // A panel wider than most of the view is not kept clear: the model would shrink to nothing.
    const double sides = coveredLeft_ + coveredRight_;
    const double kept = sides > width() * 0.6 ? width() * 0.6 / sides : 1.0;
    const double left = coveredLeft_ * kept;
    const double right = coveredRight_ * kept;
    return {left, fitBarReserve, std::max(width() - left - right, 1.0),
            std::max(height() - 2.0 * fitBarReserve, 1.0)};
}

QRect Viewer::screenBox(const Bnd_Box& box) const
{
    if (box.IsVoid() || view_->Window().IsNull())
        return {};
    const gp_Pnt low = box.CornerMin();
    const gp_Pnt high = box.CornerMax();
    QRect covered;
    for (int corner = 0; corner < 8; ++corner) {
        const gp_Pnt p(corner & 1 ? high.X() : low.X(), corner & 2 ? high.Y() : low.Y(),
                       corner & 4 ? high.Z() : low.Z());
        covered |= QRect(toScreen(p), QSize(1, 1));
    }
    return covered;
}

bool Viewer::showsWhole(const Bnd_Box& box) const
{
    const QRect covered = screenBox(box);
    if (covered.isEmpty())
        return false;
    const QRectF free = fitRect();
    return free.contains(covered.topLeft()) && free.contains(covered.bottomRight());
}

double Viewer::pixelSize() const
{
    return view_->Convert(1) * devicePixelRatioF();
}

void Viewer::setSectionPlane(const gp_Pln* plane)
{
    if (!sectionPlane_.IsNull()) {
        view_->RemoveClipPlane(sectionPlane_);
        sectionPlane_.Nullify();
    }
    if (plane) {
        sectionPlane_ = makeSectionPlane(*plane, srgbColor(Theme::instance().accent3));
        view_->AddClipPlane(sectionPlane_);
    }
    // The cut changes the whole picture, not only the immediate layer.
    requestRedraw();
}

void Viewer::setRenderMode(int mode, bool shadows, bool reflections)
{
    renderMode_ = mode;
    if (!ground_.IsNull()) {
        context_->Remove(ground_, false);
        ground_.Nullify();
    }
    if (mode > 0) {
        ground_ = makeGround(view_->View()->MinMaxValues(false));
        if (!ground_.IsNull()) {
            context_->Display(ground_, 1, -1, false);
            context_->Deactivate(ground_);
        }
    }
    if (renderLight_.IsNull()) {
        renderLight_ = makeRenderLight();
        viewer_->AddLight(renderLight_);
    }
    applyRenderLights();
    applyRenderingParams(view_->ChangeRenderingParams(), mode, shadows, reflections);
    requestRedraw();
}

void Viewer::applyRenderLights()
{
    const bool rayTraced = renderMode_ > 0;
    for (V3d_ListOfLightIterator it(viewer_->DefinedLightIterator()); it.More(); it.Next()) {
        const Handle(V3d_Light)& light = it.Value();
        const bool on
            = light == renderLight_ ? rayTraced : !rayTraced || sceneLightInRayTracing(light);
        if (on)
            viewer_->SetLightOn(light);
        else
            viewer_->SetLightOff(light);
    }
    view_->UpdateLights();
}

QImage Viewer::grabImage(int width, int height)
{
    if (view_->Window().IsNull() || width <= 0 || height <= 0)
        return grabFramebuffer();
    makeCurrent();
    const bool cubeErased = viewCubeShown_ && context_->IsDisplayed(viewCube_);
    if (cubeErased)
        context_->Erase(viewCube_, false);

    Image_AlienPixMap pixmap;
    V3d_ImageDumpOptions options;
    options.Width = width;
    options.Height = height;
    options.BufferType = Graphic3d_BT_RGB;
    options.StereoOptions = V3d_SDO_MONO;
    options.TileSize = 0;
    options.ToAdjustAspect = true;
    QImage image;
    if (view_->ToPixMap(pixmap, options))
        image = toQImage(pixmap);

    if (cubeErased)
        context_->Display(viewCube_, 0, 0, false);
    doneCurrent();
    requestRedraw();
    return image.isNull() ? grabFramebuffer() : image;
}

} // namespace qor::app
