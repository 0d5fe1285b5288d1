#include "features/Coil.h"
#include "features/ConstructionGeometry.h"
#include "features/Extrude.h"
#include "features/FaceEdits.h"
#include "features/FilletChamfer.h"
#include "features/Hole.h"
#include "features/ImportFeature.h"
#include "features/LoftSweep.h"
#include "features/MoveScale.h"
#include "features/PatternCore.h"
#include "features/Patterns.h"
#include "features/Primitives.h"
#include "features/Rib.h"
#include "features/ShellThicken.h"
#include "features/SketchFeature.h"
#include "features/SplitCombine.h"
#include "features/Text.h"
#include "features/Thread.h"
#include "features/ThreadTable.h"
#include "model/FeatureDef.h"

#include <utility>

// Type ids, parameter keys and option values are stored in part documents and
// must never change; titles and labels are display texts.

namespace qor::model {

const QStringList booleanOpChoices = {
    QStringLiteral("new=Neuer Körper"),
    QStringLiteral("join=Verbinden"),
    QStringLiteral("cut=Ausschneiden"),
    QStringLiteral("intersect=Schneiden"),
};

namespace {

using K = ParamKind;

// Origin planes are -1 XY, -2 XZ, -3 YZ; origin axes -11 X, -12 Y, -13 Z.
QJsonObject origin(int id)
{
    return QJsonObject{{QStringLiteral("kind"), QStringLiteral("origin")},
                       {QStringLiteral("id"), id}};
}

ParamDef optional(ParamDef def)
{
    def.optional = true;
    return def;
}

// The first four rows of the patterns and the mirror: copy features or bodies.
std::vector<ParamDef> patternSource(const QString& label)
{
    return {
        ParamDef::choice(QStringLiteral("source"), label,
                         {QStringLiteral("features=Features"), QStringLiteral("bodies=Körper")},
                         QStringLiteral("features")),
        {QStringLiteral("features"),
         QStringLiteral("Features"),
         K::Features,
         {},
         QStringLiteral("source=features")},
        {QStringLiteral("bodies"),
         QStringLiteral("Körper"),
         K::Bodies,
         {},
         QStringLiteral("source=bodies")},
        {QStringLiteral("join"), QStringLiteral("Mit Original verbinden"), K::Bool, true,
         QStringLiteral("source=bodies")},
    };
}

std::vector<ParamDef> concat(std::vector<ParamDef> head, const std::vector<ParamDef>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class CatalogueBuilder {
public:
    std::vector<FeatureDef> defs;

    void add(QString id, QString title, QString group, FeatureExecutor exec,
             std::vector<ParamDef> params, bool bodyFeature = true)
    {
        FeatureDef def;
        def.icon = id;
        def.id = std::move(id);
        def.title = std::move(title);
        def.group = std::move(group);
        def.params = std::move(params);
        def.exec = std::move(exec);
        def.bodyFeature = bodyFeature;
        defs.push_back(std::move(def));
    }
};

} // namespace

std::vector<FeatureDef> buildFeatureDefs()
{
    const ParamDef op = ParamDef::choice(QStringLiteral("op"), QStringLiteral("Operation"),
                                         booleanOpChoices, QStringLiteral("new"));
    const ParamDef targets = optional({QStringLiteral("targets"),
                                       QStringLiteral("Zielkörper"),
                                       K::Bodies,
                                       {},
                                       QStringLiteral("op!=new")});
    const ParamDef flip{QStringLiteral("flip"), QStringLiteral("Richtung umkehren"), K::Bool,
                        false};
    const ParamDef centreX{QStringLiteral("x"), QStringLiteral("Mitte X"), K::Length,
                           QStringLiteral("0")};
    const ParamDef centreY{QStringLiteral("y"), QStringLiteral("Mitte Y"), K::Length,
                           QStringLiteral("0")};
    const ParamDef primitivePlane{QStringLiteral("plane"), QStringLiteral("Ebene"), K::Plane,
                                  origin(-1)};
    const QStringList threadModels = {QStringLiteral("cosmetic=Kosmetisch (schnell)"),
                                      QStringLiteral("modeled=Modelliert (echte Gänge)")};

    CatalogueBuilder b;
    b.defs.reserve(32);

    b.add(QStringLiteral("sketch"), QStringLiteral("Skizze"), QStringLiteral("Skizze"), execSketch,
          {
              {QStringLiteral("plane"), QStringLiteral("Ebene"), K::Plane, origin(-1)},
              optional({QStringLiteral("offset"), QStringLiteral("Versatz"), K::Length,
                        QStringLiteral("0")}),
          },
          false);

    b.add(
        QStringLiteral("extrude"), QStringLiteral("Extrusion"), QStringLiteral("Erstellen"),
        execExtrude,
        {
            {QStringLiteral("profile"), QStringLiteral("Profil"), K::Profile},
            ParamDef::choice(QStringLiteral("extent"), QStringLiteral("Ausdehnung"),
                             {QStringLiteral("dist=Abstand"), QStringLiteral("sym=Symmetrisch"),
                              QStringLiteral("two=Zwei Seiten"), QStringLiteral("all=Durch alles"),
                              QStringLiteral("allboth=Durch alles (beidseitig)")},
                             QStringLiteral("dist")),
            {QStringLiteral("distance"), QStringLiteral("Abstand"), K::Length,
             QStringLiteral("20 mm"), QStringLiteral("extent=dist|extent=sym|extent=two")},
            {QStringLiteral("distance2"), QStringLiteral("Abstand Seite 2"), K::Length,
             QStringLiteral("10 mm"), QStringLiteral("extent=two")},
            flip,
            {QStringLiteral("taper"), QStringLiteral("Verjüngung"), K::Angle,
             QStringLiteral("0 deg")},
            op,
            targets,
        });

    b.add(QStringLiteral("revolve"), QStringLiteral("Rotation"), QStringLiteral("Erstellen"),
          execRevolve,
          {
              {QStringLiteral("profile"), QStringLiteral("Profil"), K::Profile},
              {QStringLiteral("axis"), QStringLiteral("Achse"), K::Axis},
              {QStringLiteral("angle"), QStringLiteral("Winkel"), K::Angle,
               QStringLiteral("360 deg")},
              {QStringLiteral("symmetric"), QStringLiteral("Symmetrisch"), K::Bool, false},
              flip,
              op,
              targets,
          });

    b.add(QStringLiteral("sweep"), QStringLiteral("Austragung"), QStringLiteral("Erstellen"),
          execSweep,
          {
              {QStringLiteral("profile"), QStringLiteral("Profil"), K::Profile},
              {QStringLiteral("path"), QStringLiteral("Pfad"), K::Path},
              ParamDef::choice(QStringLiteral("orientation"), QStringLiteral("Ausrichtung"),
                               {QStringLiteral("corrected=Mitführen"),
                                QStringLiteral("frenet=Frenet"), QStringLiteral("fixed=Fest")},
                               QStringLiteral("corrected")),
              op,
              targets,
          });

    b.add(QStringLiteral("loft"), QStringLiteral("Erhebung"), QStringLiteral("Erstellen"), execLoft,
          {
              {QStringLiteral("sections"), QStringLiteral("Profile (in Reihenfolge)"), K::Profile},
              {QStringLiteral("ruled"), QStringLiteral("Gerade Übergänge"), K::Bool, false},
              op,
              targets,
          });

    b.add(QStringLiteral("hole"), QStringLiteral("Bohrung"), QStringLiteral("Erstellen"), execHole,
          {
              {QStringLiteral("points"), QStringLiteral("Skizze mit Punkten"), K::SketchPoints},
              ParamDef::choice(QStringLiteral("kind"), QStringLiteral("Art"),
                               {QStringLiteral("simple=Einfach"),
                                QStringLiteral("cbore=Senkung (zylindrisch)"),
                                QStringLiteral("csink=Senkung (kegelig)")},
                               QStringLiteral("simple")),
              ParamDef::choice(QStringLiteral("thread"), QStringLiteral("Gewinde / Norm"),
                               threadChoices(true, false), QStringLiteral("none")),
              ParamDef::choice(QStringLiteral("fit"), QStringLiteral("Bohrungstyp"),
                               {QStringLiteral("clear=Durchgangsbohrung"),
                                QStringLiteral("threaded=Gewindebohrung"),
                                QStringLiteral("tap=Nur Kernloch")},
                               QStringLiteral("clear"), QStringLiteral("thread!=none")),
              {QStringLiteral("diameter"), QStringLiteral("Durchmesser"), K::Length,
               QStringLiteral("6 mm"), QStringLiteral("thread=none")},
              ParamDef::choice(QStringLiteral("extent"), QStringLiteral("Tiefe"),
                               {QStringLiteral("depth=Abstand"), QStringLiteral("all=Durch alles")},
                               QStringLiteral("depth")),
              {QStringLiteral("depth"), QStringLiteral("Bohrtiefe"), K::Length,
               QStringLiteral("10 mm"), QStringLiteral("extent=depth")},
              {QStringLiteral("tip"), QStringLiteral("Bohrspitze 118°"), K::Bool, true,
               QStringLiteral("extent=depth")},
              {QStringLiteral("cboreDiameter"), QStringLiteral("Senkdurchmesser"), K::Length,
               QStringLiteral("11 mm"), QStringLiteral("kind=cbore")},
              {QStringLiteral("cboreDepth"), QStringLiteral("Senktiefe"), K::Length,
               QStringLiteral("6.4 mm"), QStringLiteral("kind=cbore")},
              {QStringLiteral("csinkDiameter"), QStringLiteral("Senkdurchmesser"), K::Length,
               QStringLiteral("12.6 mm"), QStringLiteral("kind=csink")},
              {QStringLiteral("csinkAngle"), QStringLiteral("Senkwinkel"), K::Angle,
               QStringLiteral("90 deg"), QStringLiteral("kind=csink")},
              ParamDef::choice(
                  QStringLiteral("threadExtent"), QStringLiteral("Gewindelänge"),
                  {QStringLiteral("full=Ganze Bohrtiefe"), QStringLiteral("dist=Abstand")},
                  QStringLiteral("full"), QStringLiteral("fit=threaded")),
              {QStringLiteral("threadDepth"), QStringLiteral("Gewindetiefe"), K::Length,
               QStringLiteral("8 mm"), QStringLiteral("fit=threaded")},
              ParamDef::choice(QStringLiteral("threadModel"), QStringLiteral("Gewindedarstellung"),
                               threadModels, QStringLiteral("cosmetic"),
                               QStringLiteral("fit=threaded")),
              {QStringLiteral("leftHand"), QStringLiteral("Linksgewinde"), K::Bool, false,
               QStringLiteral("fit=threaded")},
              flip,
              optional({QStringLiteral("targets"), QStringLiteral("Zielkörper"), K::Bodies}),
          });

    b.add(
        QStringLiteral("thread"), QStringLiteral("Gewinde"), QStringLiteral("Erstellen"),
        execThread,
        {
            {QStringLiteral("faces"), QStringLiteral("Zylinderflächen"), K::Faces},
            ParamDef::choice(QStringLiteral("size"), QStringLiteral("Gewinde"),
                             threadChoices(false, true), QStringLiteral("auto")),
            ParamDef::choice(QStringLiteral("extent"), QStringLiteral("Länge"),
                             {QStringLiteral("full=Ganze Fläche"), QStringLiteral("dist=Abstand")},
                             QStringLiteral("full")),
            {QStringLiteral("length"), QStringLiteral("Gewindelänge"), K::Length,
             QStringLiteral("10 mm"), QStringLiteral("extent=dist")},
            ParamDef::choice(QStringLiteral("model"), QStringLiteral("Darstellung"), threadModels,
                             QStringLiteral("cosmetic")),
            {QStringLiteral("leftHand"), QStringLiteral("Linksgewinde"), K::Bool, false},
            {QStringLiteral("flip"), QStringLiteral("Am anderen Ende beginnen"), K::Bool, false},
        });

    b.add(QStringLiteral("rib"), QStringLiteral("Rippe"), QStringLiteral("Erstellen"), execRib,
          {
              {QStringLiteral("sketch"), QStringLiteral("Skizze (offene Linie)"), K::SketchLine},
              {QStringLiteral("thickness"), QStringLiteral("Dicke"), K::Length,
               QStringLiteral("3 mm")},
              optional({QStringLiteral("targets"), QStringLiteral("Körper"), K::Bodies}),
          });

    b.add(
        QStringLiteral("text"), QStringLiteral("Text"), QStringLiteral("Erstellen"), execText,
        {
            {QStringLiteral("plane"), QStringLiteral("Ebene oder Fläche"), K::Plane, origin(-1)},
            {QStringLiteral("text"), QStringLiteral("Text"), K::Text, QStringLiteral("QorCAD")},
            {QStringLiteral("height"), QStringLiteral("Schrifthöhe"), K::Length,
             QStringLiteral("10 mm")},
            ParamDef::choice(QStringLiteral("font"), QStringLiteral("Schriftart"),
                             {QStringLiteral("sans=DejaVu Sans"),
                              QStringLiteral("serif=DejaVu Serif"),
                              QStringLiteral("mono=DejaVu Sans Mono")},
                             QStringLiteral("sans")),
            {QStringLiteral("bold"), QStringLiteral("Fett"), K::Bool, true},
            ParamDef::choice(QStringLiteral("align"), QStringLiteral("Ausrichtung"),
                             {QStringLiteral("center=Mittig"), QStringLiteral("left=Links"),
                              QStringLiteral("right=Rechts")},
                             QStringLiteral("center")),
            {QStringLiteral("x"), QStringLiteral("Position X"), K::Length, QStringLiteral("0")},
            {QStringLiteral("y"), QStringLiteral("Position Y"), K::Length, QStringLiteral("0")},
            {QStringLiteral("angle"), QStringLiteral("Drehung"), K::Angle, QStringLiteral("0 deg")},
            {QStringLiteral("depth"), QStringLiteral("Höhe / Tiefe"), K::Length,
             QStringLiteral("1 mm")},
            ParamDef::choice(QStringLiteral("op"), QStringLiteral("Operation"),
                             {QStringLiteral("join=Prägen (erhaben)"),
                              QStringLiteral("cut=Gravieren (vertieft)"),
                              QStringLiteral("new=Neuer Körper")},
                             QStringLiteral("join")),
            flip,
            targets,
        });

    b.add(QStringLiteral("coil"), QStringLiteral("Feder"), QStringLiteral("Erstellen"), execCoil,
          {
              {QStringLiteral("axis"), QStringLiteral("Achse"), K::Axis, origin(-13)},
              {QStringLiteral("diameter"), QStringLiteral("Federdurchmesser (Mitte)"), K::Length,
               QStringLiteral("20 mm")},
              {QStringLiteral("pitch"), QStringLiteral("Steigung"), K::Length,
               QStringLiteral("5 mm")},
              ParamDef::choice(QStringLiteral("extent"), QStringLiteral("Länge über"),
                               {QStringLiteral("turns=Windungen"), QStringLiteral("height=Höhe")},
                               QStringLiteral("turns")),
              {QStringLiteral("turns"), QStringLiteral("Windungen"), K::Number, QStringLiteral("8"),
               QStringLiteral("extent=turns")},
              {QStringLiteral("height"), QStringLiteral("Höhe"), K::Length, QStringLiteral("40 mm"),
               QStringLiteral("extent=height")},
              ParamDef::choice(
                  QStringLiteral("profile"), QStringLiteral("Querschnitt"),
                  {QStringLiteral("circle=Rund (Draht)"), QStringLiteral("square=Quadratisch")},
                  QStringLiteral("circle")),
              {QStringLiteral("section"), QStringLiteral("Drahtstärke"), K::Length,
               QStringLiteral("2 mm")},
              {QStringLiteral("leftHand"), QStringLiteral("Linksgängig"), K::Bool, false},
              flip,
              op,
              targets,
          });

    b.add(
        QStringLiteral("box"), QStringLiteral("Quader"), QStringLiteral("Grundkörper"), execBox,
        {
            primitivePlane,
            centreX,
            centreY,
            {QStringLiteral("length"), QStringLiteral("Länge"), K::Length, QStringLiteral("50 mm")},
            {QStringLiteral("width"), QStringLiteral("Breite"), K::Length, QStringLiteral("30 mm")},
            {QStringLiteral("height"), QStringLiteral("Höhe"), K::Length, QStringLiteral("20 mm")},
            op,
            targets,
        });

    b.add(
        QStringLiteral("cylinder"), QStringLiteral("Zylinder"), QStringLiteral("Grundkörper"),
        execCylinder,
        {
            primitivePlane,
            centreX,
            centreY,
            {QStringLiteral("diameter"), QStringLiteral("Durchmesser"), K::Length,
             QStringLiteral("30 mm")},
            {QStringLiteral("height"), QStringLiteral("Höhe"), K::Length, QStringLiteral("40 mm")},
            op,
            targets,
        });

    b.add(QStringLiteral("sphere"), QStringLiteral("Kugel"), QStringLiteral("Grundkörper"),
          execSphere,
          {
              primitivePlane,
              centreX,
              centreY,
              {QStringLiteral("diameter"), QStringLiteral("Durchmesser"), K::Length,
               QStringLiteral("40 mm")},
              op,
              targets,
          });

    b.add(QStringLiteral("torus"), QStringLiteral("Torus"), QStringLiteral("Grundkörper"),
          execTorus,
          {
              primitivePlane,
              centreX,
              centreY,
              {QStringLiteral("diameter"), QStringLiteral("Ringdurchmesser"), K::Length,
               QStringLiteral("60 mm")},
              {QStringLiteral("tube"), QStringLiteral("Rohrdurchmesser"), K::Length,
               QStringLiteral("12 mm")},
              op,
              targets,
          });

    b.add(
        QStringLiteral("fillet"), QStringLiteral("Verrundung"), QStringLiteral("Ändern"),
        execFillet,
        {
            {QStringLiteral("edges"), QStringLiteral("Kanten"), K::Edges},
            ParamDef::choice(
                QStringLiteral("mode"), QStringLiteral("Art"),
                {QStringLiteral("const=Konstant"), QStringLiteral("var=Variabel (Anfang → Ende)")},
                QStringLiteral("const")),
            {QStringLiteral("radius"), QStringLiteral("Radius"), K::Length, QStringLiteral("2 mm")},
            {QStringLiteral("radius2"), QStringLiteral("Endradius"), K::Length,
             QStringLiteral("5 mm"), QStringLiteral("mode=var")},
        });

    b.add(QStringLiteral("chamfer"), QStringLiteral("Fase"), QStringLiteral("Ändern"), execChamfer,
          {
              {QStringLiteral("edges"), QStringLiteral("Kanten"), K::Edges},
              ParamDef::choice(QStringLiteral("mode"), QStringLiteral("Art"),
                               {QStringLiteral("equal=Gleicher Abstand"),
                                QStringLiteral("two=Zwei Abstände"),
                                QStringLiteral("angle=Abstand und Winkel")},
                               QStringLiteral("equal")),
              {QStringLiteral("distance"), QStringLiteral("Abstand"), K::Length,
               QStringLiteral("1 mm")},
              {QStringLiteral("distance2"), QStringLiteral("Abstand 2"), K::Length,
               QStringLiteral("2 mm"), QStringLiteral("mode=two")},
              {QStringLiteral("angle"), QStringLiteral("Winkel"), K::Angle,
               QStringLiteral("45 deg"), QStringLiteral("mode=angle")},
          });

    b.add(QStringLiteral("shell"), QStringLiteral("Schale"), QStringLiteral("Ändern"), execShell,
          {
              {QStringLiteral("faces"), QStringLiteral("Offene Flächen"), K::Faces},
              optional({QStringLiteral("bodies"), QStringLiteral("Körper (geschlossen aushöhlen)"),
                        K::Bodies}),
              {QStringLiteral("thickness"), QStringLiteral("Wandstärke"), K::Length,
               QStringLiteral("2 mm")},
              ParamDef::choice(QStringLiteral("direction"), QStringLiteral("Richtung"),
                               {QStringLiteral("in=Innen"), QStringLiteral("out=Außen")},
                               QStringLiteral("in")),
          });

    b.add(
        QStringLiteral("draft"), QStringLiteral("Formschräge"), QStringLiteral("Ändern"), execDraft,
        {
            {QStringLiteral("faces"), QStringLiteral("Flächen"), K::Faces},
            {QStringLiteral("neutral"), QStringLiteral("Neutrale Ebene"), K::Plane, origin(-1)},
            {QStringLiteral("angle"), QStringLiteral("Winkel"), K::Angle, QStringLiteral("3 deg")},
            flip,
        });

    b.add(
        QStringLiteral("thicken"), QStringLiteral("Aufdicken"), QStringLiteral("Ändern"),
        execThicken,
        {
            {QStringLiteral("faces"), QStringLiteral("Flächen"), K::Faces},
            {QStringLiteral("thickness"), QStringLiteral("Dicke"), K::Length,
             QStringLiteral("2 mm")},
            {QStringLiteral("symmetric"), QStringLiteral("Symmetrisch"), K::Bool, false},
            flip,
            ParamDef::choice(QStringLiteral("op"), QStringLiteral("Operation"),
                             {QStringLiteral("new=Neuer Körper"), QStringLiteral("join=Verbinden"),
                              QStringLiteral("cut=Ausschneiden")},
                             QStringLiteral("new")),
            targets,
        });

    b.add(QStringLiteral("delete_faces"), QStringLiteral("Flächen löschen"),
          QStringLiteral("Ändern"), execDeleteFaces,
          {
              {QStringLiteral("faces"), QStringLiteral("Flächen (Bohrungen, Verrundungen …)"),
               K::Faces},
          });

    b.add(QStringLiteral("offset_faces"), QStringLiteral("Fläche versetzen"),
          QStringLiteral("Ändern"), execOffsetFaces,
          {
              {QStringLiteral("faces"), QStringLiteral("Flächen"), K::Faces},
              {QStringLiteral("distance"), QStringLiteral("Abstand (− = nach innen)"), K::Length,
               QStringLiteral("5 mm")},
          });

    b.add(QStringLiteral("scale"), QStringLiteral("Skalieren"), QStringLiteral("Ändern"), execScale,
          {
              {QStringLiteral("bodies"), QStringLiteral("Körper"), K::Bodies},
              ParamDef::choice(
                  QStringLiteral("mode"), QStringLiteral("Art"),
                  {QStringLiteral("uniform=Gleichmäßig"), QStringLiteral("axes=Je Achse")},
                  QStringLiteral("uniform")),
              {QStringLiteral("factor"), QStringLiteral("Faktor"), K::Number, QStringLiteral("2"),
               QStringLiteral("mode=uniform")},
              {QStringLiteral("fx"), QStringLiteral("Faktor X"), K::Number, QStringLiteral("1"),
               QStringLiteral("mode=axes")},
              {QStringLiteral("fy"), QStringLiteral("Faktor Y"), K::Number, QStringLiteral("1"),
               QStringLiteral("mode=axes")},
              {QStringLiteral("fz"), QStringLiteral("Faktor Z"), K::Number, QStringLiteral("1"),
               QStringLiteral("mode=axes")},
              ParamDef::choice(
                  QStringLiteral("center"), QStringLiteral("Bezugspunkt"),
                  {QStringLiteral("origin=Ursprung"), QStringLiteral("centroid=Schwerpunkt")},
                  QStringLiteral("centroid")),
              {QStringLiteral("copy"), QStringLiteral("Kopie erstellen"), K::Bool, false},
          });

    b.add(
        QStringLiteral("combine"), QStringLiteral("Kombinieren"), QStringLiteral("Ändern"),
        execCombine,
        {
            {QStringLiteral("target"), QStringLiteral("Zielkörper"), K::Bodies},
            {QStringLiteral("tools"), QStringLiteral("Werkzeugkörper"), K::Bodies},
            ParamDef::choice(QStringLiteral("op"), QStringLiteral("Operation"),
                             {QStringLiteral("join=Verbinden"), QStringLiteral("cut=Ausschneiden"),
                              QStringLiteral("intersect=Schneiden")},
                             QStringLiteral("join")),
            {QStringLiteral("keepTools"), QStringLiteral("Werkzeuge behalten"), K::Bool, false},
        });

    b.add(QStringLiteral("split"), QStringLiteral("Körper teilen"), QStringLiteral("Ändern"),
          execSplit,
          {
              {QStringLiteral("bodies"), QStringLiteral("Körper"), K::Bodies},
              {QStringLiteral("plane"), QStringLiteral("Trennebene"), K::Plane, origin(-3)},
          });

    b.add(QStringLiteral("move"), QStringLiteral("Verschieben"), QStringLiteral("Ändern"), execMove,
          {
              {QStringLiteral("bodies"), QStringLiteral("Körper"), K::Bodies},
              {QStringLiteral("dx"), QStringLiteral("X"), K::Length, QStringLiteral("0")},
              {QStringLiteral("dy"), QStringLiteral("Y"), K::Length, QStringLiteral("0")},
              {QStringLiteral("dz"), QStringLiteral("Z"), K::Length, QStringLiteral("0")},
              optional({QStringLiteral("axis"), QStringLiteral("Drehachse"), K::Axis, origin(-13)}),
              {QStringLiteral("angle"), QStringLiteral("Drehwinkel"), K::Angle,
               QStringLiteral("0 deg")},
              {QStringLiteral("copy"), QStringLiteral("Kopie erstellen"), K::Bool, false},
          });

    b.add(
        QStringLiteral("pattern_rect"), QStringLiteral("Rechteckmuster"), QStringLiteral("Muster"),
        execPatternRect,
        concat(
            patternSource(QStringLiteral("Vervielfältigen")),
            {
                {QStringLiteral("direction1"), QStringLiteral("Richtung 1"), K::Axis, origin(-11)},
                {QStringLiteral("count1"), QStringLiteral("Anzahl 1"), K::Integer,
                 QStringLiteral("3")},
                {QStringLiteral("spacing1"), QStringLiteral("Abstand 1"), K::Length,
                 QStringLiteral("20 mm")},
                {QStringLiteral("flip1"), QStringLiteral("Richtung 1 umkehren"), K::Bool, false},
                optional({QStringLiteral("direction2"), QStringLiteral("Richtung 2"), K::Axis,
                          origin(-12)}),
                {QStringLiteral("count2"), QStringLiteral("Anzahl 2"), K::Integer,
                 QStringLiteral("1")},
                {QStringLiteral("spacing2"), QStringLiteral("Abstand 2"), K::Length,
                 QStringLiteral("20 mm")},
                {QStringLiteral("flip2"), QStringLiteral("Richtung 2 umkehren"), K::Bool, false},
            }));

    b.add(QStringLiteral("pattern_circ"), QStringLiteral("Kreismuster"), QStringLiteral("Muster"),
          execPatternCirc,
          concat(patternSource(QStringLiteral("Vervielfältigen")),
                 {
                     {QStringLiteral("axis"), QStringLiteral("Achse"), K::Axis, origin(-13)},
                     {QStringLiteral("count"), QStringLiteral("Anzahl"), K::Integer,
                      QStringLiteral("6")},
                     {QStringLiteral("angle"), QStringLiteral("Gesamtwinkel"), K::Angle,
                      QStringLiteral("360 deg")},
                 }));

    b.add(QStringLiteral("pattern_path"), QStringLiteral("Muster entlang Pfad"),
          QStringLiteral("Muster"), execPatternPath,
          concat(patternSource(QStringLiteral("Vervielfältigen")),
                 {
                     {QStringLiteral("path"), QStringLiteral("Pfad"), K::Path},
                     {QStringLiteral("count"), QStringLiteral("Anzahl"), K::Integer,
                      QStringLiteral("5")},
                     ParamDef::choice(QStringLiteral("spacing"), QStringLiteral("Verteilung"),
                                      {QStringLiteral("fit=Gleichmäßig über die Länge"),
                                       QStringLiteral("dist=Fester Abstand")},
                                      QStringLiteral("fit")),
                     {QStringLiteral("distance"), QStringLiteral("Abstand"), K::Length,
                      QStringLiteral("20 mm"), QStringLiteral("spacing=dist")},
                     {QStringLiteral("orient"), QStringLiteral("Entlang Pfad ausrichten"), K::Bool,
                      true},
                     {QStringLiteral("flip"), QStringLiteral("Vom anderen Ende"), K::Bool, false},
                 }));

    b.add(
        QStringLiteral("mirror"), QStringLiteral("Spiegeln"), QStringLiteral("Muster"), execMirror,
        concat(patternSource(QStringLiteral("Spiegeln")),
               {
                   {QStringLiteral("plane"), QStringLiteral("Spiegelebene"), K::Plane, origin(-3)},
               }));

    b.add(QStringLiteral("plane"), QStringLiteral("Ebene"), QStringLiteral("Konstruktion"),
          execPlane,
          {
              {QStringLiteral("base"), QStringLiteral("Bezug"), K::Plane, origin(-1)},
              ParamDef::choice(QStringLiteral("mode"), QStringLiteral("Art"),
                               {QStringLiteral("offset=Versetzt"),
                                QStringLiteral("angle=Unter Winkel"),
                                QStringLiteral("mid=Mittelebene")},
                               QStringLiteral("offset")),
              {QStringLiteral("offset"), QStringLiteral("Abstand"), K::Length,
               QStringLiteral("20 mm"), QStringLiteral("mode=offset")},
              {QStringLiteral("axis"), QStringLiteral("Drehachse"), K::Axis, origin(-11),
               QStringLiteral("mode=angle")},
              {QStringLiteral("angle"), QStringLiteral("Winkel"), K::Angle,
               QStringLiteral("45 deg"), QStringLiteral("mode=angle")},
              {QStringLiteral("base2"),
               QStringLiteral("Zweite Ebene"),
               K::Plane,
               {},
               QStringLiteral("mode=mid")},
              {QStringLiteral("flip"), QStringLiteral("Normale umkehren"), K::Bool, false},
          },
          false);

    b.add(QStringLiteral("axis"), QStringLiteral("Achse"), QStringLiteral("Konstruktion"), execAxis,
          {
              {QStringLiteral("ref"), QStringLiteral("Bezug (Kante, Zylinder)"), K::Axis},
          },
          false);

    b.add(QStringLiteral("import"), QStringLiteral("Import"), QStringLiteral("Einfügen"),
          execImport,
          {
              {QStringLiteral("file"), QStringLiteral("Datei"), K::Text, QStringLiteral("")},
          });

    return std::move(b.defs);
}

} // namespace qor::model
