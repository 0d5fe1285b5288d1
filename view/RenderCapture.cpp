#include "view/RenderCapture.h"

#include "io/NameLinks.h"
#include "view/Viewer.h"

#include <BRepBuilderAPI_MakeFace.hxx>
#include <Graphic3d_BSDF.hxx>
#include <Graphic3d_MaterialAspect.hxx>
#include <Prs3d_Drawer.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Pln.hxx>

#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qor::app {

namespace {

int channel(float value)
{
    if (value < 0.0f)
        return 0;
    if (value > 1.0f)
        return 255;
    return int(value * 255.0f + 0.5f);
}

Graphic3d_MaterialAspect groundMaterial()
{
    Graphic3d_MaterialAspect material(Graphic3d_NameOfMaterial_UserDefined);
    const Quantity_Color diffuse(0.92, 0.93, 0.95, Quantity_TOC_sRGB);
    material.SetDiffuseColor(diffuse);
    material.SetAmbientColor(Quantity_Color(diffuse.Rgb() * 0.6f));
    material.SetSpecularColor(Quantity_Color(0.02, 0.02, 0.02, Quantity_TOC_RGB));
    material.SetShininess(0.05f);
    material.SetTransparency(0.0f);
    Graphic3d_BSDF bsdf = Graphic3d_BSDF::CreateDiffuse(Graphic3d_Vec3(0.75f, 0.75f, 0.78f));
    material.SetBSDF(bsdf);
    return material;
}

Viewer* viewerOf(QWidget* window)
{
    if (auto* viewer = qobject_cast<Viewer*>(window))
        return viewer;
    return window ? window->findChild<Viewer*>() : nullptr;
}

} // namespace

void applyRenderingParams(Graphic3d_RenderingParams& params, int mode, bool shadows,
                          bool reflections)
{
    if (mode <= 0) {
        params.Method = Graphic3d_RM_RASTERIZATION;
        params.IsGlobalIlluminationEnabled = false;
        return;
    }
    const bool pathTracing = mode == 2;
    params.Method = Graphic3d_RM_RAYTRACING;
    params.IsGlobalIlluminationEnabled = pathTracing;
    params.SamplesPerPixel = pathTracing ? 1 : 0;
    params.RaytracingDepth = 4;
    params.IsAntialiasingEnabled = true;
    params.IsTransparentShadowEnabled = true;
    params.IsShadowEnabled = shadows;
    params.IsReflectionEnabled = reflections;
    params.ToneMappingMethod = Graphic3d_ToneMappingMethod_Filmic;
    params.Exposure = 0.0f;
    params.WhitePoint = 1.0f;
    params.CoherentPathTracingMode = false;
}

Handle(AIS_Shape) makeGround(const Bnd_Box& box)
{
    if (box.IsVoid())
        return nullptr;
    double xmin, ymin, zmin, xmax, ymax, zmax;
    box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    const double largest = std::max({xmax - xmin, ymax - ymin, zmax - zmin});
    const double half = 3.0 * std::max(10.0, largest);
    const gp_Pln plane(gp_Pnt((xmin + xmax) / 2, (ymin + ymax) / 2, zmin - 0.01), gp::DZ());
    Handle(AIS_Shape) ground
        = new AIS_Shape(BRepBuilderAPI_MakeFace(plane, -half, half, -half, half).Face());
    ground->SetMaterial(groundMaterial());
    ground->Attributes()->SetFaceBoundaryDraw(false);
    return ground;
}

Handle(V3d_DirectionalLight) makeRenderLight()
{
    Handle(V3d_DirectionalLight) light
        = new V3d_DirectionalLight(gp_Dir(-0.35, -0.45, -1.0), Quantity_NOC_WHITE, false);
    light->SetIntensity(0.9);
    light->SetSmoothAngle(0.06);
    return light;
}

bool sceneLightInRayTracing(const Handle(V3d_Light)& light)
{
    if (light->Type() != Graphic3d_TypeOfLightSource_Directional)
        return true;
    return !light->IsHeadlight() && light->Direction().Z() <= 0.0;
}

QImage toQImage(const Image_PixMap& pixmap)
{
    const int width = int(pixmap.Width());
    const int height = int(pixmap.Height());
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const Quantity_ColorRGBA c = pixmap.PixelColor(x, y, false);
            const NCollection_Vec3<float> rgb = c.GetRGB().Rgb();
            row[3 * x] = uchar(channel(rgb.r()));
            row[3 * x + 1] = uchar(channel(rgb.g()));
            row[3 * x + 2] = uchar(channel(rgb.b()));
        }
    }
    return image;
}

int saveRender(QWidget* mainWindow, int width, int height, const QString& path)
{
    Viewer* viewer = viewerOf(mainWindow);
    const QImage image = viewer ? viewer->grabImage(width, height) : QImage();
    const bool saved = !image.isNull() && image.save(path);
    std::fprintf(stderr, "Render: %dx%d %s\n", image.width(), image.height(),
                 saved ? "gespeichert" : "FEHLER");
    std::fflush(stderr);
    return saved ? 0 : 1;
}

int saveWidgetImage(QWidget* widget, const QString& path)
{
    return saveImage(widget ? widget->grab().toImage() : QImage(), path);
}

int saveImage(const QImage& image, const QString& path)
{
    if (!image.isNull() && image.save(path))
        return 0;
    std::fprintf(stderr, "Fehler: Bild konnte nicht gespeichert werden: %s\n",
                 path.toLocal8Bit().constData());
    std::fflush(stderr);
    return 1;
}

namespace {

// Ends the process without unwinding, so that nothing waits on a window or a thread that is
// going away; what the run left in the temporary folder goes first.
[[noreturn]] void exitNow(int status)
{
    io::removeNameLinks();
    std::_Exit(status);
}

} // namespace

void saveRenderAndExit(QWidget* mainWindow, int width, int height, const QString& path, int status)
{
    exitNow(std::max(saveRender(mainWindow, width, height, path), status));
}

void saveGrabAndExit(QWidget* widget, const QString& path)
{
    exitNow(saveWidgetImage(widget, path));
}

void saveImageAndExit(const QImage& image, const QString& path, int status)
{
    exitNow(std::max(saveImage(image, path), status));
}

} // namespace qor::app
