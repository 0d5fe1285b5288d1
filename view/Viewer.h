#pragma once

#include "view/Navigation.h"

#include <AIS_InteractiveContext.hxx>
#include <AIS_ViewController.hxx>
#include <AIS_ViewCube.hxx>
#include <Bnd_Box.hxx>
#include <Graphic3d_ClipPlane.hxx>
#include <Quantity_Color.hxx>
#include <V3d_Light.hxx>
#include <V3d_TypeOfOrientation.hxx>
#include <V3d_View.hxx>
#include <V3d_Viewer.hxx>
#include <gp_Ax3.hxx>
#include <gp_Pln.hxx>
#include <gp_Pnt.hxx>

#include <QImage>
#include <QJsonObject>
#include <QOpenGLWidget>
#include <QPoint>
#include <QRect>
#include <QRectF>

#include <algorithm>
#include <functional>

class QKeyEvent;
class QMouseEvent;

namespace qor::app {

// Sees the view's mouse and key events before navigation does (the sketch editor). A handler
// returns true when it consumed the event; the view then stops processing it, except that a
// consumed move with the middle button held still orbits.
class InputHandler {
public:
    virtual ~InputHandler() = default;
    virtual bool mousePress(QMouseEvent*) { return false; }
    virtual bool mouseMove(QMouseEvent*) { return false; }
    virtual bool mouseRelease(QMouseEvent*) { return false; }
    virtual bool mouseDoubleClick(QMouseEvent*) { return false; }
    virtual bool keyPress(QKeyEvent*) { return false; }
};

// The 3D view: a Qt OpenGL widget hosting the OpenCASCADE viewer, view, interactive context and
// view cube. Qt owns the OpenGL context and frame buffer; the view wraps them. Nothing is drawn
// outside paintGL: every operation that changes the picture ends with a redraw request.
// Pixel arguments are logical widget pixels.
class Viewer : public QOpenGLWidget, public AIS_ViewController {
    Q_OBJECT
public:
    explicit Viewer(QWidget* parent = nullptr);
    ~Viewer() override;

    const Handle(V3d_Viewer)& viewer() const { return viewer_; }
    const Handle(V3d_View)& view() const { return view_; }
    const Handle(AIS_InteractiveContext)& context() const { return context_; }
    const Handle(AIS_ViewCube)& viewCube() const { return viewCube_; }

    // Not owned; the handler resets it to null when it goes away.
    InputHandler* inputHandler() const { return inputHandler_; }
    void setInputHandler(InputHandler* handler) { inputHandler_ = handler; }

    void setViewCubeVisible(bool visible);
    bool isViewCubeVisible() const { return viewCubeShown_; }
    // Vertical gradient from top to bottom.
    void setBackgroundGradient(const Quantity_Color& top, const Quantity_Color& bottom);
    // Invalidates the view, restarts progressive accumulation and schedules one repaint.
    void requestRedraw();
    bool firstFrameDrawn() const { return firstFrameDrawn_; }
    // A camera or view-cube animation is under way: the frames to come still move.
    bool animating() const;

    // Navigation. Scheme 0 orbits with the middle button, scheme 1 pans with it.
    void setNavigationMode(int scheme);
    int navigationMode() const { return navigationScheme_; }
    void setLeftButtonOrbit(bool on);
    bool leftButtonOrbit() const { return leftButtonOrbit_; }
    // True: two-finger scrolling orbits (Shift pans); false: it zooms like a wheel.
    void setTouchpadNavigation(bool on) { touchpad_ = on; }
    bool touchpadNavigation() const { return touchpad_; }
    void orbit(double dx, double dy);
    void pan(double dx, double dy);
    // Factors not above 0 are ignored.
    void zoom(double factor);

    // Camera. The orientations used are V3d_XposYnegZpos (isometric), V3d_Yneg (front),
    // V3d_Zpos (top) and V3d_Xpos (right).
    void setViewOrientation(V3d_TypeOfOrientation orientation, bool animate);
    // An empty view shows a 260-unit field around the origin.
    void fitAll(bool animate);
    // Logical pixels at the left and right edges of the view covered by panels floating over
    // it; fits place the model in the strip between.
    void setCoveredLeft(int pixels) { coveredLeft_ = std::max(pixels, 0); }
    int coveredLeft() const { return coveredLeft_; }
    void setCoveredRight(int pixels) { coveredRight_ = std::max(pixels, 0); }
    int coveredRight() const { return coveredRight_; }
    // Looks straight at the plane of the frame, from at least 50 units away.
    void lookAt(const gp_Ax3& frame, bool animate);
    // {"eye", "center", "up", "scale", "perspective"}; an invalid state is ignored.
    QJsonObject cameraState() const;
    void setCameraState(const QJsonObject& state, bool animate);
    void setPerspective(bool on);
    bool isPerspective() const;
    // The view ray through the pixel cut with the plane; false when it misses or lies in it.
    bool rayToPlane(const QPoint& pixel, const gp_Pln& plane, gp_Pnt& hit) const;
    QPoint toScreen(const gp_Pnt& point) const;
    // Whether every corner of the box lies in the part of the view that a fit uses (clear of
    // a covering panel and the view bar's strips); false for a void box.
    bool showsWhole(const Bnd_Box& box) const;
    // The widget rectangle that the box's corners project into; empty for a void box.
    QRect screenBox(const Bnd_Box& box) const;
    // Model length of one logical pixel.
    double pixelSize() const;
    // Null removes the section; otherwise one capped clip plane cuts everything shown.
    void setSectionPlane(const gp_Pln* plane);
    bool sectionOn() const { return !sectionPlane_.IsNull(); }

    // Render modes: 0 rasterised, 1 ray-traced, 2 path-traced with progressive accumulation.
    void setRenderMode(int mode, bool shadows, bool reflections);
    int renderMode() const { return renderMode_; }
    // Frames accumulated since the last redraw request (path tracing only).
    int progressiveFrames() const { return progressiveFrames_; }
    // The view rendered offscreen at exactly width x height (RGB888, without the view cube);
    // the on-screen frame when the size is not positive or offscreen rendering fails.
    QImage grabImage(int width, int height);

    // AIS_ViewController
    void OnSelectionChanged(const Handle(AIS_InteractiveContext)& ctx,
                            const Handle(V3d_View)& view) override;
    void handleViewRedraw(const Handle(AIS_InteractiveContext)& ctx,
                          const Handle(V3d_View)& view) override;
    // Hover and click detection; after each, detectionRefiner may swap what was found for
    // something finer and answer true to detect again at the same point.
    void contextLazyMoveTo(const Handle(AIS_InteractiveContext)& ctx, const Handle(V3d_View)& view,
                           const Graphic3d_Vec2i& point) override;
    std::function<bool()> detectionRefiner;
    // A rectangle selection first picks what the rectangle touches into the context's main
    // selector; areaRefiner may then swap what was picked for something finer, which the
    // selection itself then finds.
    std::function<void()> areaRefiner;

signals:
    void selectionChanged();
    void hovered();
    void contextMenuAt(const QPoint& globalPos);
    void initialized();

protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void initializeGL() override;
    void paintGL() override;

protected:
    void handleSelectionPoly(const Handle(AIS_InteractiveContext)& ctx,
                             const Handle(V3d_View)& view) override;

private:
    void applyMouseGestures();
    void applyNavigation(const NavAction& action, const QPointF& cursor);
    void animateFrom(const Handle(Graphic3d_Camera)& start, double seconds);
    // Puts the camera at the end of an animation under way and stops it.
    void finishAnimation();
    // Fits the model into the widget as it is now, clear of the floating view bar.
    void fitCamera();
    // The part of the view a fit fills (logical pixels): right of a covering panel, between
    // the view bar's strips.
    QRectF fitRect() const;
    void applyRenderLights();
    Graphic3d_Vec2i devicePoint(const QPointF& logical) const;

    Handle(V3d_Viewer) viewer_;
    Handle(V3d_View) view_;
    Handle(AIS_InteractiveContext) context_;
    Handle(AIS_ViewCube) viewCube_;
    Handle(Graphic3d_ClipPlane) sectionPlane_;
    InputHandler* inputHandler_ = nullptr;
    int navigationScheme_ = 0;
    PressTracker press_;
    bool viewCubeShown_ = true;
    bool firstFrameDrawn_ = false;
    bool leftButtonOrbit_ = false;
    int renderMode_ = 0;
    Handle(AIS_InteractiveObject) ground_;
    Handle(V3d_Light) renderLight_;
    int progressiveFrames_ = 0;
    bool touchpad_ = true;
    int coveredLeft_ = 0;
    int coveredRight_ = 0;
};

} // namespace qor::app
