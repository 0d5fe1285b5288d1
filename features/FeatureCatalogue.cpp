#include "features/Coil.h"
#include "features/ConstructionGeometry.h"
#include "features/Extrude.h"
#include "features/FaceEdits.h"
#include "model/FeatureDef.h"
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

#include <utility>

// Type ids, parameter keys and option values are stored in part documents and
// must never change; titles and labels are display texts.

namespace qor::model {

using namespace Qt::Literals::StringLiterals;

const QStringList booleanOpChoices = {
    u"new=Neuer Körper"_s,
    u"join=Verbinden"_s,
    u"cut=Ausschneiden"_s,
    u"intersect=Schneiden"_s,
};

namespace {

using K = ParamKind;

// Origin planes are -1 XY, -2 XZ, -3 YZ; origin axes -11 X, -12 Y, -13 Z.
QJsonObject origin(int id)
{
    return QJsonObject{{u"kind"_s, u"origin"_s}, {u"id"_s, id}};
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
        ParamDef::choice(u"source"_s, label, {u"features=Features"_s, u"bodies=Körper"_s},
                         u"features"_s),
        {u"features"_s, u"Features"_s, K::Features, {}, u"source=features"_s},
        {u"bodies"_s, u"Körper"_s, K::Bodies, {}, u"source=bodies"_s},
        {u"join"_s, u"Mit Original verbinden"_s, K::Bool, true, u"source=bodies"_s},
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
    const ParamDef op = ParamDef::choice(u"op"_s, u"Operation"_s, booleanOpChoices, u"new"_s);
    const ParamDef targets =
        optional({u"targets"_s, u"Zielkörper"_s, K::Bodies, {}, u"op!=new"_s});
    const ParamDef flip{u"flip"_s, u"Richtung umkehren"_s, K::Bool, false};
    const ParamDef centreX{u"x"_s, u"Mitte X"_s, K::Length, u"0"_s};
    const ParamDef centreY{u"y"_s, u"Mitte Y"_s, K::Length, u"0"_s};
    const ParamDef primitivePlane{u"plane"_s, u"Ebene"_s, K::Plane, origin(-1)};
    const QStringList threadModels = {u"cosmetic=Kosmetisch (schnell)"_s,
                                      u"modeled=Modelliert (echte Gänge)"_s};

    CatalogueBuilder b;
    b.defs.reserve(32);

    b.add(u"sketch"_s, u"Skizze"_s, u"Skizze"_s, execSketch,
          {
              {u"plane"_s, u"Ebene"_s, K::Plane, origin(-1)},
              optional({u"offset"_s, u"Versatz"_s, K::Length, u"0"_s}),
          },
          false);

    b.add(u"extrude"_s, u"Extrusion"_s, u"Erstellen"_s, execExtrude,
          {
              {u"profile"_s, u"Profil"_s, K::Profile},
              ParamDef::choice(u"extent"_s, u"Ausdehnung"_s,
                               {u"dist=Abstand"_s, u"sym=Symmetrisch"_s, u"two=Zwei Seiten"_s,
                                u"all=Durch alles"_s, u"allboth=Durch alles (beidseitig)"_s},
                               u"dist"_s),
              {u"distance"_s, u"Abstand"_s, K::Length, u"20 mm"_s,
               u"extent=dist|extent=sym|extent=two"_s},
              {u"distance2"_s, u"Abstand Seite 2"_s, K::Length, u"10 mm"_s, u"extent=two"_s},
              flip,
              {u"taper"_s, u"Verjüngung"_s, K::Angle, u"0 deg"_s},
              op,
              targets,
          });

    b.add(u"revolve"_s, u"Rotation"_s, u"Erstellen"_s, execRevolve,
          {
              {u"profile"_s, u"Profil"_s, K::Profile},
              {u"axis"_s, u"Achse"_s, K::Axis},
              {u"angle"_s, u"Winkel"_s, K::Angle, u"360 deg"_s},
              {u"symmetric"_s, u"Symmetrisch"_s, K::Bool, false},
              flip,
              op,
              targets,
          });

    b.add(u"sweep"_s, u"Austragung"_s, u"Erstellen"_s, execSweep,
          {
              {u"profile"_s, u"Profil"_s, K::Profile},
              {u"path"_s, u"Pfad"_s, K::Path},
              ParamDef::choice(u"orientation"_s, u"Ausrichtung"_s,
                               {u"corrected=Mitführen"_s, u"frenet=Frenet"_s, u"fixed=Fest"_s},
                               u"corrected"_s),
              op,
              targets,
          });

    b.add(u"loft"_s, u"Erhebung"_s, u"Erstellen"_s, execLoft,
          {
              {u"sections"_s, u"Profile (in Reihenfolge)"_s, K::Profile},
              {u"ruled"_s, u"Gerade Übergänge"_s, K::Bool, false},
              op,
              targets,
          });

    b.add(u"hole"_s, u"Bohrung"_s, u"Erstellen"_s, execHole,
          {
              {u"points"_s, u"Skizze mit Punkten"_s, K::SketchPoints},
              ParamDef::choice(u"kind"_s, u"Art"_s,
                               {u"simple=Einfach"_s, u"cbore=Senkung (zylindrisch)"_s,
                                u"csink=Senkung (kegelig)"_s},
                               u"simple"_s),
              ParamDef::choice(u"thread"_s, u"Gewinde / Norm"_s, threadChoices(true, false),
                               u"none"_s),
              ParamDef::choice(u"fit"_s, u"Bohrungstyp"_s,
                               {u"clear=Durchgangsbohrung"_s, u"threaded=Gewindebohrung"_s,
                                u"tap=Nur Kernloch"_s},
                               u"clear"_s, u"thread!=none"_s),
              {u"diameter"_s, u"Durchmesser"_s, K::Length, u"6 mm"_s, u"thread=none"_s},
              ParamDef::choice(u"extent"_s, u"Tiefe"_s, {u"depth=Abstand"_s, u"all=Durch alles"_s},
                               u"depth"_s),
              {u"depth"_s, u"Bohrtiefe"_s, K::Length, u"10 mm"_s, u"extent=depth"_s},
              {u"tip"_s, u"Bohrspitze 118°"_s, K::Bool, true, u"extent=depth"_s},
              {u"cboreDiameter"_s, u"Senkdurchmesser"_s, K::Length, u"11 mm"_s, u"kind=cbore"_s},
              {u"cboreDepth"_s, u"Senktiefe"_s, K::Length, u"6.4 mm"_s, u"kind=cbore"_s},
              {u"csinkDiameter"_s, u"Senkdurchmesser"_s, K::Length, u"12.6 mm"_s,
               u"kind=csink"_s},
              {u"csinkAngle"_s, u"Senkwinkel"_s, K::Angle, u"90 deg"_s, u"kind=csink"_s},
              ParamDef::choice(u"threadExtent"_s, u"Gewindelänge"_s,
                               {u"full=Ganze Bohrtiefe"_s, u"dist=Abstand"_s}, u"full"_s,
                               u"fit=threaded"_s),
              {u"threadDepth"_s, u"Gewindetiefe"_s, K::Length, u"8 mm"_s, u"fit=threaded"_s},
              ParamDef::choice(u"threadModel"_s, u"Gewindedarstellung"_s, threadModels,
                               u"cosmetic"_s, u"fit=threaded"_s),
              {u"leftHand"_s, u"Linksgewinde"_s, K::Bool, false, u"fit=threaded"_s},
              flip,
              optional({u"targets"_s, u"Zielkörper"_s, K::Bodies}),
          });

    b.add(u"thread"_s, u"Gewinde"_s, u"Erstellen"_s, execThread,
          {
              {u"faces"_s, u"Zylinderflächen"_s, K::Faces},
              ParamDef::choice(u"size"_s, u"Gewinde"_s, threadChoices(false, true), u"auto"_s),
              ParamDef::choice(u"extent"_s, u"Länge"_s, {u"full=Ganze Fläche"_s, u"dist=Abstand"_s},
                               u"full"_s),
              {u"length"_s, u"Gewindelänge"_s, K::Length, u"10 mm"_s, u"extent=dist"_s},
              ParamDef::choice(u"model"_s, u"Darstellung"_s, threadModels, u"cosmetic"_s),
              {u"leftHand"_s, u"Linksgewinde"_s, K::Bool, false},
              {u"flip"_s, u"Am anderen Ende beginnen"_s, K::Bool, false},
          });

    b.add(u"rib"_s, u"Rippe"_s, u"Erstellen"_s, execRib,
          {
              {u"sketch"_s, u"Skizze (offene Linie)"_s, K::SketchLine},
              {u"thickness"_s, u"Dicke"_s, K::Length, u"3 mm"_s},
              optional({u"targets"_s, u"Körper"_s, K::Bodies}),
          });

    b.add(u"text"_s, u"Text"_s, u"Erstellen"_s, execText,
          {
              {u"plane"_s, u"Ebene oder Fläche"_s, K::Plane, origin(-1)},
              {u"text"_s, u"Text"_s, K::Text, u"QorCAD"_s},
              {u"height"_s, u"Schrifthöhe"_s, K::Length, u"10 mm"_s},
              ParamDef::choice(u"font"_s, u"Schriftart"_s,
                               {u"sans=DejaVu Sans"_s, u"serif=DejaVu Serif"_s,
                                u"mono=DejaVu Sans Mono"_s},
                               u"sans"_s),
              {u"bold"_s, u"Fett"_s, K::Bool, true},
              ParamDef::choice(u"align"_s, u"Ausrichtung"_s,
                               {u"center=Mittig"_s, u"left=Links"_s, u"right=Rechts"_s},
                               u"center"_s),
              {u"x"_s, u"Position X"_s, K::Length, u"0"_s},
              {u"y"_s, u"Position Y"_s, K::Length, u"0"_s},
              {u"angle"_s, u"Drehung"_s, K::Angle, u"0 deg"_s},
              {u"depth"_s, u"Höhe / Tiefe"_s, K::Length, u"1 mm"_s},
              ParamDef::choice(u"op"_s, u"Operation"_s,
                               {u"join=Prägen (erhaben)"_s, u"cut=Gravieren (vertieft)"_s,
                                u"new=Neuer Körper"_s},
                               u"join"_s),
              flip,
              targets,
          });

    b.add(u"coil"_s, u"Feder"_s, u"Erstellen"_s, execCoil,
          {
              {u"axis"_s, u"Achse"_s, K::Axis, origin(-13)},
              {u"diameter"_s, u"Federdurchmesser (Mitte)"_s, K::Length, u"20 mm"_s},
              {u"pitch"_s, u"Steigung"_s, K::Length, u"5 mm"_s},
              ParamDef::choice(u"extent"_s, u"Länge über"_s,
                               {u"turns=Windungen"_s, u"height=Höhe"_s}, u"turns"_s),
              {u"turns"_s, u"Windungen"_s, K::Number, u"8"_s, u"extent=turns"_s},
              {u"height"_s, u"Höhe"_s, K::Length, u"40 mm"_s, u"extent=height"_s},
              ParamDef::choice(u"profile"_s, u"Querschnitt"_s,
                               {u"circle=Rund (Draht)"_s, u"square=Quadratisch"_s}, u"circle"_s),
              {u"section"_s, u"Drahtstärke"_s, K::Length, u"2 mm"_s},
              {u"leftHand"_s, u"Linksgängig"_s, K::Bool, false},
              flip,
              op,
              targets,
          });

    b.add(u"box"_s, u"Quader"_s, u"Grundkörper"_s, execBox,
          {
              primitivePlane,
              centreX,
              centreY,
              {u"length"_s, u"Länge"_s, K::Length, u"50 mm"_s},
              {u"width"_s, u"Breite"_s, K::Length, u"30 mm"_s},
              {u"height"_s, u"Höhe"_s, K::Length, u"20 mm"_s},
              op,
              targets,
          });

    b.add(u"cylinder"_s, u"Zylinder"_s, u"Grundkörper"_s, execCylinder,
          {
              primitivePlane,
              centreX,
              centreY,
              {u"diameter"_s, u"Durchmesser"_s, K::Length, u"30 mm"_s},
              {u"height"_s, u"Höhe"_s, K::Length, u"40 mm"_s},
              op,
              targets,
          });

    b.add(u"sphere"_s, u"Kugel"_s, u"Grundkörper"_s, execSphere,
          {
              primitivePlane,
              centreX,
              centreY,
              {u"diameter"_s, u"Durchmesser"_s, K::Length, u"40 mm"_s},
              op,
              targets,
          });

    b.add(u"torus"_s, u"Torus"_s, u"Grundkörper"_s, execTorus,
          {
              primitivePlane,
              centreX,
              centreY,
              {u"diameter"_s, u"Ringdurchmesser"_s, K::Length, u"60 mm"_s},
              {u"tube"_s, u"Rohrdurchmesser"_s, K::Length, u"12 mm"_s},
              op,
              targets,
          });

    b.add(u"fillet"_s, u"Verrundung"_s, u"Ändern"_s, execFillet,
          {
              {u"edges"_s, u"Kanten"_s, K::Edges},
              ParamDef::choice(u"mode"_s, u"Art"_s,
                               {u"const=Konstant"_s, u"var=Variabel (Anfang → Ende)"_s},
                               u"const"_s),
              {u"radius"_s, u"Radius"_s, K::Length, u"2 mm"_s},
              {u"radius2"_s, u"Endradius"_s, K::Length, u"5 mm"_s, u"mode=var"_s},
          });

    b.add(u"chamfer"_s, u"Fase"_s, u"Ändern"_s, execChamfer,
          {
              {u"edges"_s, u"Kanten"_s, K::Edges},
              ParamDef::choice(u"mode"_s, u"Art"_s,
                               {u"equal=Gleicher Abstand"_s, u"two=Zwei Abstände"_s,
                                u"angle=Abstand und Winkel"_s},
                               u"equal"_s),
              {u"distance"_s, u"Abstand"_s, K::Length, u"1 mm"_s},
              {u"distance2"_s, u"Abstand 2"_s, K::Length, u"2 mm"_s, u"mode=two"_s},
              {u"angle"_s, u"Winkel"_s, K::Angle, u"45 deg"_s, u"mode=angle"_s},
          });

    b.add(u"shell"_s, u"Schale"_s, u"Ändern"_s, execShell,
          {
              {u"faces"_s, u"Offene Flächen"_s, K::Faces},
              optional({u"bodies"_s, u"Körper (geschlossen aushöhlen)"_s, K::Bodies}),
              {u"thickness"_s, u"Wandstärke"_s, K::Length, u"2 mm"_s},
              ParamDef::choice(u"direction"_s, u"Richtung"_s, {u"in=Innen"_s, u"out=Außen"_s},
                               u"in"_s),
          });

    b.add(u"draft"_s, u"Formschräge"_s, u"Ändern"_s, execDraft,
          {
              {u"faces"_s, u"Flächen"_s, K::Faces},
              {u"neutral"_s, u"Neutrale Ebene"_s, K::Plane, origin(-1)},
              {u"angle"_s, u"Winkel"_s, K::Angle, u"3 deg"_s},
              flip,
          });

    b.add(u"thicken"_s, u"Aufdicken"_s, u"Ändern"_s, execThicken,
          {
              {u"faces"_s, u"Flächen"_s, K::Faces},
              {u"thickness"_s, u"Dicke"_s, K::Length, u"2 mm"_s},
              {u"symmetric"_s, u"Symmetrisch"_s, K::Bool, false},
              flip,
              ParamDef::choice(u"op"_s, u"Operation"_s,
                               {u"new=Neuer Körper"_s, u"join=Verbinden"_s,
                                u"cut=Ausschneiden"_s},
                               u"new"_s),
              targets,
          });

    b.add(u"delete_faces"_s, u"Flächen löschen"_s, u"Ändern"_s, execDeleteFaces,
          {
              {u"faces"_s, u"Flächen (Bohrungen, Verrundungen …)"_s, K::Faces},
          });

    b.add(u"offset_faces"_s, u"Fläche versetzen"_s, u"Ändern"_s, execOffsetFaces,
          {
              {u"faces"_s, u"Flächen"_s, K::Faces},
              {u"distance"_s, u"Abstand (− = nach innen)"_s, K::Length, u"5 mm"_s},
          });

    b.add(u"scale"_s, u"Skalieren"_s, u"Ändern"_s, execScale,
          {
              {u"bodies"_s, u"Körper"_s, K::Bodies},
              ParamDef::choice(u"mode"_s, u"Art"_s, {u"uniform=Gleichmäßig"_s, u"axes=Je Achse"_s},
                               u"uniform"_s),
              {u"factor"_s, u"Faktor"_s, K::Number, u"2"_s, u"mode=uniform"_s},
              {u"fx"_s, u"Faktor X"_s, K::Number, u"1"_s, u"mode=axes"_s},
              {u"fy"_s, u"Faktor Y"_s, K::Number, u"1"_s, u"mode=axes"_s},
              {u"fz"_s, u"Faktor Z"_s, K::Number, u"1"_s, u"mode=axes"_s},
              ParamDef::choice(u"center"_s, u"Bezugspunkt"_s,
                               {u"origin=Ursprung"_s, u"centroid=Schwerpunkt"_s}, u"centroid"_s),
              {u"copy"_s, u"Kopie erstellen"_s, K::Bool, false},
          });

    b.add(u"combine"_s, u"Kombinieren"_s, u"Ändern"_s, execCombine,
          {
              {u"target"_s, u"Zielkörper"_s, K::Bodies},
              {u"tools"_s, u"Werkzeugkörper"_s, K::Bodies},
              ParamDef::choice(u"op"_s, u"Operation"_s,
                               {u"join=Verbinden"_s, u"cut=Ausschneiden"_s,
                                u"intersect=Schneiden"_s},
                               u"join"_s),
              {u"keepTools"_s, u"Werkzeuge behalten"_s, K::Bool, false},
          });

    b.add(u"split"_s, u"Körper teilen"_s, u"Ändern"_s, execSplit,
          {
              {u"bodies"_s, u"Körper"_s, K::Bodies},
              {u"plane"_s, u"Trennebene"_s, K::Plane, origin(-3)},
          });

    b.add(u"move"_s, u"Verschieben"_s, u"Ändern"_s, execMove,
          {
              {u"bodies"_s, u"Körper"_s, K::Bodies},
              {u"dx"_s, u"X"_s, K::Length, u"0"_s},
              {u"dy"_s, u"Y"_s, K::Length, u"0"_s},
              {u"dz"_s, u"Z"_s, K::Length, u"0"_s},
              optional({u"axis"_s, u"Drehachse"_s, K::Axis, origin(-13)}),
              {u"angle"_s, u"Drehwinkel"_s, K::Angle, u"0 deg"_s},
              {u"copy"_s, u"Kopie erstellen"_s, K::Bool, false},
          });

    b.add(u"pattern_rect"_s, u"Rechteckmuster"_s, u"Muster"_s, execPatternRect,
          concat(patternSource(u"Vervielfältigen"_s),
                 {
                     {u"direction1"_s, u"Richtung 1"_s, K::Axis, origin(-11)},
                     {u"count1"_s, u"Anzahl 1"_s, K::Integer, u"3"_s},
                     {u"spacing1"_s, u"Abstand 1"_s, K::Length, u"20 mm"_s},
                     {u"flip1"_s, u"Richtung 1 umkehren"_s, K::Bool, false},
                     optional({u"direction2"_s, u"Richtung 2"_s, K::Axis, origin(-12)}),
                     {u"count2"_s, u"Anzahl 2"_s, K::Integer, u"1"_s},
                     {u"spacing2"_s, u"Abstand 2"_s, K::Length, u"20 mm"_s},
                     {u"flip2"_s, u"Richtung 2 umkehren"_s, K::Bool, false},
                 }));

    b.add(u"pattern_circ"_s, u"Kreismuster"_s, u"Muster"_s, execPatternCirc,
          concat(patternSource(u"Vervielfältigen"_s),
                 {
                     {u"axis"_s, u"Achse"_s, K::Axis, origin(-13)},
                     {u"count"_s, u"Anzahl"_s, K::Integer, u"6"_s},
                     {u"angle"_s, u"Gesamtwinkel"_s, K::Angle, u"360 deg"_s},
                 }));

    b.add(u"pattern_path"_s, u"Muster entlang Pfad"_s, u"Muster"_s, execPatternPath,
          concat(patternSource(u"Vervielfältigen"_s),
                 {
                     {u"path"_s, u"Pfad"_s, K::Path},
                     {u"count"_s, u"Anzahl"_s, K::Integer, u"5"_s},
                     ParamDef::choice(u"spacing"_s, u"Verteilung"_s,
                                      {u"fit=Gleichmäßig über die Länge"_s,
                                       u"dist=Fester Abstand"_s},
                                      u"fit"_s),
                     {u"distance"_s, u"Abstand"_s, K::Length, u"20 mm"_s, u"spacing=dist"_s},
                     {u"orient"_s, u"Entlang Pfad ausrichten"_s, K::Bool, true},
                     {u"flip"_s, u"Vom anderen Ende"_s, K::Bool, false},
                 }));

    b.add(u"mirror"_s, u"Spiegeln"_s, u"Muster"_s, execMirror,
          concat(patternSource(u"Spiegeln"_s),
                 {
                     {u"plane"_s, u"Spiegelebene"_s, K::Plane, origin(-3)},
                 }));

    b.add(u"plane"_s, u"Ebene"_s, u"Konstruktion"_s, execPlane,
          {
              {u"base"_s, u"Bezug"_s, K::Plane, origin(-1)},
              ParamDef::choice(u"mode"_s, u"Art"_s,
                               {u"offset=Versetzt"_s, u"angle=Unter Winkel"_s,
                                u"mid=Mittelebene"_s},
                               u"offset"_s),
              {u"offset"_s, u"Abstand"_s, K::Length, u"20 mm"_s, u"mode=offset"_s},
              {u"axis"_s, u"Drehachse"_s, K::Axis, origin(-11), u"mode=angle"_s},
              {u"angle"_s, u"Winkel"_s, K::Angle, u"45 deg"_s, u"mode=angle"_s},
              {u"base2"_s, u"Zweite Ebene"_s, K::Plane, {}, u"mode=mid"_s},
              {u"flip"_s, u"Normale umkehren"_s, K::Bool, false},
          },
          false);

    b.add(u"axis"_s, u"Achse"_s, u"Konstruktion"_s, execAxis,
          {
              {u"ref"_s, u"Bezug (Kante, Zylinder)"_s, K::Axis},
          },
          false);

    b.add(u"import"_s, u"Import"_s, u"Einfügen"_s, execImport,
          {
              {u"file"_s, u"Datei"_s, K::Text, u""_s},
          });

    return std::move(b.defs);
}

} // namespace qor::model
