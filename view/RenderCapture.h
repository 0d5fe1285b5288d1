#pragma once

#include <AIS_Shape.hxx>
#include <Bnd_Box.hxx>
#include <Graphic3d_RenderingParams.hxx>
#include <Image_PixMap.hxx>
#include <V3d_DirectionalLight.hxx>
#include <V3d_Light.hxx>

#include <QImage>
#include <QString>

class QWidget;

// Render modes (0 rasterised, 1 ray-traced, 2 path-traced), offscreen capture and the
// command-line jobs that save an image and end the process.
namespace qor::app {

// Path tracing accumulates this many extra frames after every change of the picture.
constexpr int progressiveFrameLimit = 96;

void applyRenderingParams(Graphic3d_RenderingParams& params, int mode, bool shadows,
                          bool reflections);
// A light-grey square under the model, three times its size; null for an empty box.
Handle(AIS_Shape) makeGround(const Bnd_Box& box);
// The extra key light of the ray-traced modes, from above with a soft shadow edge.
Handle(V3d_DirectionalLight) makeRenderLight();
// Ray-traced modes keep the scene lights except headlights and lights shining upwards.
bool sceneLightInRayTracing(const Handle(V3d_Light)& light);
// Colours taken as stored (not linearised), rows from the top.
QImage toQImage(const Image_PixMap& pixmap);

// Renders the main window's view at width x height into path and writes
// "Render: <w>x<h> gespeichert|FEHLER" to standard error; returns the exit code (1 on failure).
int saveRender(QWidget* mainWindow, int width, int height, const QString& path);
// Grabs the whole widget into path; a failure is reported on standard error and returns 1.
int saveWidgetImage(QWidget* widget, const QString& path);

// Writes the image to path; a null image or a failed write is reported on standard error and
// returns 1.
int saveImage(const QImage& image, const QString& path);

// Command-line jobs: they end the process at once with the exit code of the save, or with
// status when that is higher (a run whose file could not be opened still saves its picture
// and ends with 1).
[[noreturn]] void saveRenderAndExit(QWidget* mainWindow, int width, int height, const QString& path,
                                    int status = 0);
[[noreturn]] void saveGrabAndExit(QWidget* widget, const QString& path);
[[noreturn]] void saveImageAndExit(const QImage& image, const QString& path, int status = 0);

} // namespace qor::app
