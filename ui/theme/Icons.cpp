#include "ui/theme/Icons.h"

#include <utility>

namespace qor::app {

namespace {

// The solid-view icons ("view_*", "display_*", "body", "component", "box") share the
// isometric box outline M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z.
const std::pair<const char*, const char*> iconTable[] = {
    // File and history
    {"new", R"(<path d="M6 3h8l4 4v14H6z"/><path d="M14 3v4h4"/><path d="M12 11v6M9 14h6"/>)"},
    {"open", R"(<path d="M3 19V5h6l2 2h7v3"/><path d="M3 19l3-9h15l-3 9z"/>)"},
    {"save", R"(<path d="M5 3h11l3 3v15H5z"/><path d="M8 3v5h7V3"/><path d="M8 21v-7h8v7"/>)"},
    {"saveas", R"(<path d="M13 21H4V3h10l3 3v4"/><path d="M7 3v4h6V3"/>)"
               R"(<path d="M14 21l.8-3.2 5.2-5.2 2.4 2.4-5.2 5.2z"/>)"},
    {"undo", R"(<path d="M9 14L4 9l5-5"/><path d="M4 9h10a6 6 0 0 1 0 12h-3"/>)"},
    {"redo", R"(<path d="M15 14l5-5-5-5"/><path d="M20 9H10a6 6 0 0 0 0 12h3"/>)"},

    // Sketch mode and tools
    {"sketch", R"(<path d="M4 20l4-1L19 8l-3-3L5 16z"/><path d="M14 7l3 3"/>)"
               R"(<path d="M3 3h5M3 3v5" opacity=".55"/>)"},
    {"finish", R"(<path d="M4 12.5l5 5L20 6.5"/>)"},
    {"cancel", R"(<path d="M6 6l12 12M18 6L6 18"/>)"},
    {"line", R"(<path d="M5.5 18.5l13-13"/><circle cx="4.5" cy="19.5" r="1.8"/>)"
             R"(<circle cx="19.5" cy="4.5" r="1.8"/>)"},
    {"polyline", R"(<path d="M3 19l6-10 6 6 6-10"/><circle cx="9" cy="9" r="1.5"/>)"
                 R"(<circle cx="15" cy="15" r="1.5"/>)"},
    {"rect", R"(<path d="M5.5 6H20v10.5M18.5 18H4V7.5"/><circle cx="4" cy="6" r="1.5"/>)"
             R"(<circle cx="20" cy="18" r="1.5"/>)"},
    {"rect_center", R"(<rect x="4" y="6" width="16" height="12"/><circle cx="12" cy="12" r="1.5"/>)"
                    R"(<path d="M13.3 13l6.7 5" opacity=".55"/>)"},
    {"circle", R"(<circle cx="12" cy="12" r="8.5"/><circle cx="12" cy="12" r="1.5"/>)"
               R"(<path d="M13.5 12h7" opacity=".55"/>)"},
    {"circle3", R"(<circle cx="12" cy="12" r="8.5"/><circle cx="12" cy="3.5" r="1.8"/>)"
                R"(<circle cx="4.6" cy="16.3" r="1.8"/><circle cx="19.4" cy="16.3" r="1.8"/>)"},
    {"arc", R"(<path d="M4 19a9 9 0 0 1 16 0"/><circle cx="4" cy="19" r="1.5"/>)"
            R"(<circle cx="20" cy="19" r="1.5"/><circle cx="12" cy="6" r="1.5"/>)"},
    {"arc_center", R"(<path d="M4 17a8 8 0 0 1 16 0"/><circle cx="12" cy="17" r="1.5"/>)"
                   R"(<path d="M10.5 17H4M13 16l5-5" stroke-dasharray="2 2"/>)"},
    {"point", R"(<circle cx="12" cy="12" r="2.5"/>)"
              R"(<path d="M12 3v5M12 16v5M3 12h5M16 12h5" opacity=".55"/>)"},
    {"polygon", R"(<path d="M12 3.5l7.4 4.3v8.4L12 20.5l-7.4-4.3V7.8z"/>)"
                R"(<circle cx="12" cy="12" r="1.2" opacity=".55"/>)"},
    {"slot", R"(<path d="M7 8h10a4 4 0 0 1 0 8H7a4 4 0 0 1 0-8z"/>)"
             R"(<path d="M7 12h10" opacity=".55"/><circle cx="7" cy="12" r="1" opacity=".55"/>)"},
    {"trim", R"(<circle cx="6" cy="7" r="2.5"/><circle cx="6" cy="17" r="2.5"/>)"
             R"(<path d="M8.2 8.3L20 17M8.2 15.7L20 7"/>)"},
    {"offset2d",
     R"(<path d="M3 14c3-6 8-9 16-9"/><path d="M6 20c2-5 6-8 14-8" stroke-dasharray="2 2"/>)"
     R"(<path d="M10 11.5l2 2.5" opacity=".55"/>)"},
    {"fillet2d", R"(<path d="M5 4v8a8 8 0 0 0 8 8h7"/><path d="M5 15v5h5" opacity=".45"/>)"},
    {"construction", R"(<path d="M4 20L20 4" stroke-dasharray="3 2.5"/>)"},
    {"project", R"(<path d="M2 20l4-5h16l-4 5z" opacity=".55"/><path d="M7 4h12"/>)"
                R"(<path d="M7 6.5v8M19 6.5v8" stroke-dasharray="2 2"/><path d="M6.5 17.5h11"/>)"},
    {"dimension", R"(<path d="M4 6v14M20 6v14" opacity=".55"/>)"
                  R"(<path d="M4 13h16M4 13l3-2.5M4 13l3 2.5M20 13l-3-2.5M20 13l-3 2.5"/>)"},

    // Constraints
    {"c_coincident", R"(<path d="M3 19l7-5.5M14 11.5L21 6"/><circle cx="12" cy="12.5" r="2.5"/>)"},
    {"c_horizontal", R"(<path d="M6 5v14M18 5v14M6 12h12"/>)"},
    {"c_vertical", R"(<path d="M5 6h14M5 18h14M12 6v12"/>)"},
    {"c_parallel", R"(<path d="M4 19l8-14M12 19l8-14"/>)"},
    {"c_perpendicular", R"(<path d="M4 19h16M12 19V5"/><path d="M12 15h4v4" opacity=".55"/>)"},
    {"c_tangent", R"(<circle cx="12" cy="14" r="6"/><path d="M3 8h18"/>)"},
    {"c_equal", R"(<path d="M5 9h14M5 15h14"/>)"},
    {"c_midpoint", R"(<path d="M3 16l18-8"/><path d="M12 8.6l3 5.2H9z"/>)"
                   R"(<path d="M3 13v6M21 5v6" opacity=".55"/>)"},
    {"c_symmetric", R"(<path d="M12 3v18" stroke-dasharray="2 2"/><circle cx="6" cy="12" r="2"/>)"
                    R"(<circle cx="18" cy="12" r="2"/><path d="M4 7h4M16 7h4" opacity=".55"/>)"},
    {"c_concentric",
     R"(<circle cx="12" cy="12" r="8.5"/><circle cx="12" cy="12" r="4.5"/><path d="M12 12v.1"/>)"},
    {"c_fix",
     R"(<rect x="5" y="11" width="14" height="10" rx="2"/><path d="M8 11V8a4 4 0 0 1 8 0v3"/>)"
     R"(<path d="M12 15v2"/>)"},
    {"c_collinear", R"(<path d="M3 20l6-6M15 8l6-6"/><path d="M10.5 12.5l3-3" opacity=".45"/>)"
                    R"(<circle cx="9" cy="14" r="1.2"/><circle cx="15" cy="8" r="1.2"/>)"},
    {"c_pointoncurve", R"(<path d="M3 18c4-10 14-10 18 0"/><circle cx="12" cy="10.5" r="2.2"/>)"},

    // Features
    {"extrude", R"(<path d="M3 16l9 4.5 9-4.5-9-4.5z"/><path d="M12 14V3M8.5 6.5L12 3l3.5 3.5"/>)"},
    {"revolve", R"(<path d="M6 3v18" stroke-dasharray="2 2"/><path d="M9 5h5l3 4v5H9z"/>)"
                R"(<path d="M3 17.5c2 3 14 3 17-1"/><path d="M17 15.5l3 1-1 3"/>)"},
    {"sweep",
     R"(<path d="M2.5 18.5C2.5 8 8 2.5 18.5 2.5M9.5 18.5c0-5.5 3.5-9 9-9"/>)"
     R"(<ellipse cx="6" cy="18.5" rx="3.5" ry="2"/><ellipse cx="18.5" cy="6" rx="2" ry="3.5"/>)"},
    {"loft", R"(<ellipse cx="12" cy="5" rx="4.5" ry="2"/><path d="M3 18l9 3.5 9-3.5-9-3.5z"/>)"
             R"(<path d="M7.5 5L3 18M16.5 5L21 18" opacity=".55"/>)"},
    {"hole", R"(<path d="M3 8l9-4.5L21 8l-9 4.5z"/><path d="M3 8v7l9 4.5 9-4.5V8"/>)"
             R"(<ellipse cx="12" cy="8" rx="3.5" ry="1.75"/>)"
             R"(<path d="M8.5 8v6a3.5 1.75 0 0 0 7 0V8" opacity=".55"/>)"},
    {"fillet", R"(<path d="M4 20v-8a8 8 0 0 1 8-8h8v16z"/><path d="M4 9V4h5" opacity=".45"/>)"},
    {"chamfer", R"(<path d="M4 20v-9l7-7h9v16z"/><path d="M4 8V4h4" opacity=".45"/>)"},
    {"shell", R"(<path d="M3 8l9-4.5L21 8v8.5L12 21l-9-4.5z"/><path d="M7 8l5-2.5L17 8l-5 2.5z"/>)"
              R"(<path d="M7 8v4l5 2.5 5-2.5V8" opacity=".55"/>)"},
    {"draft",
     R"(<path d="M3 20h18"/><path d="M8 20l3-15h6v15"/><path d="M8 20V5" stroke-dasharray="2 2"/>)"
     R"(<path d="M8 12a7 7 0 0 0 1.5-.3" opacity=".55"/>)"},
    {"combine",
     R"(<rect x="3" y="3" width="11" height="11" rx="1"/><circle cx="15" cy="15" r="6"/>)"},
    {"split", R"(<path d="M4 6h6L8 18H4z"/><path d="M14 6h6v12h-8z"/>)"
              R"(<path d="M12.5 3l-3 18" stroke-dasharray="2 2"/>)"},
    {"move", R"(<path d="M12 3v18M3 12h18"/>)"
             R"(<path d="M9 6l3-3 3 3M9 18l3 3 3-3M6 9l-3 3 3 3M18 9l3 3-3 3"/>)"},
    {"pattern_rect", R"(<rect x="4" y="4" width="6" height="6" rx="1"/>)"
                     R"(<rect x="14" y="4" width="6" height="6" rx="1" opacity=".55"/>)"
                     R"(<rect x="4" y="14" width="6" height="6" rx="1" opacity=".55"/>)"
                     R"(<rect x="14" y="14" width="6" height="6" rx="1" opacity=".55"/>)"},
    {"pattern_circ",
     R"(<circle cx="12" cy="12" r="7" opacity=".45"/><circle cx="12" cy="5" r="2.2"/>)"
     R"(<circle cx="19" cy="12" r="2.2" opacity=".7"/>)"
     R"(<circle cx="12" cy="19" r="2.2" opacity=".7"/>)"
     R"(<circle cx="5" cy="12" r="2.2" opacity=".7"/>)"},
    {"mirror", R"(<path d="M12 3v18" stroke-dasharray="2 2"/><path d="M9 6L3 18h6z"/>)"
               R"(<path d="M15 6l6 12h-6z" opacity=".55"/>)"},
    {"plane", R"(<path d="M2 18l5-10h15l-5 10z"/><path d="M5.5 13h14" opacity=".45"/>)"},
    {"axis", R"(<path d="M4 20L20 4"/><circle cx="12" cy="12" r="2"/>)"
             R"(<path d="M2.5 17.5l4 4M17.5 2.5l4 4" opacity=".55"/>)"},
    {"box",
     R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"/><path d="M3 7.5l9 4.5 9-4.5M12 12v9"/>)"},
    {"cylinder", R"(<ellipse cx="12" cy="6" rx="7" ry="3"/><path d="M5 6v12a7 3 0 0 0 14 0V6"/>)"},
    {"sphere",
     R"(<circle cx="12" cy="12" r="9"/><ellipse cx="12" cy="12" rx="9" ry="3.5" opacity=".55"/>)"},
    {"torus", R"(<ellipse cx="12" cy="12" rx="9.5" ry="5.5"/>)"
              R"(<path d="M7.5 11.5c2.5 2 6.5 2 9 0M9 12.6c2-1.2 4-1.2 6 0"/>)"},
    {"rib",
     R"(<path d="M3 3h3v15h15v3H3z"/><path d="M6 7l11 11"/><path d="M6 10l8 8" opacity=".55"/>)"},
    {"text", R"(<path d="M5 7V4h14v3M12 4v16M9 20h6"/>)"},
    {"coil",
     R"(<path d="M5 4c0 2 14 2 14 4M5 8c0 2 14 2 14 4M5 12c0 2 14 2 14 4M5 16c0 2 14 2 14 4"/>)"
     R"(<path d="M19 8c0-1.5-14-1.5-14 0M19 12c0-1.5-14-1.5-14 0M19 16c0-1.5-14-1.5-14 0")"
     R"( stroke-dasharray="1.5 2" opacity=".6"/>)"},
    {"thicken", R"(<path d="M3 9c4-4 14-4 18 0"/><path d="M3 15c4-4 14-4 18 0" opacity=".55"/>)"
                R"(<path d="M3 9v6M21 9v6"/><path d="M12 9v3M10.5 10.5L12 12l1.5-1.5"/>)"},
    {"delete_faces", R"(<path d="M3 7.5v9L12 21l9-4.5v-9M12 12v9"/>)"
                     R"(<path d="M3 7.5L12 3l9 4.5-9 4.5z" stroke-dasharray="2 2"/>)"
                     R"(<path d="M10 6l4 3M14 6l-4 3"/>)"},
    {"offset_faces", R"(<rect x="3" y="6" width="10" height="13"/><path d="M17.5 6v13"/>)"
                     R"(<path d="M13 12.5h4M15 10.5l2 2-2 2" opacity=".7"/>)"},
    {"scale", R"(<rect x="3" y="13" width="8" height="8"/>)"
              R"(<path d="M3 9V3h18v18h-6" stroke-dasharray="2 2"/>)"
              R"(<path d="M10 14l8-8M13 6h5v5"/>)"},
    {"pattern_path",
     R"(<path d="M3 19c5 0 6-14 18-14" stroke-dasharray="2 2"/><circle cx="4" cy="19" r="2.2"/>)"
     R"(<circle cx="10" cy="11.5" r="2.2" opacity=".7"/>)"
     R"(<circle cx="19" cy="5.5" r="2.2" opacity=".7"/>)"},

    // Commands, views and display modes
    {"render",
     R"(<circle cx="11" cy="13" r="7.5"/><path d="M7 11.5a4.5 4.5 0 0 1 3.5-3.5" opacity=".55"/>)"
     R"(<path d="M19 2v5M16.5 4.5h5"/>)"},
    {"orbit", R"(<ellipse cx="12" cy="12" rx="9.5" ry="4.5"/><circle cx="12" cy="12" r="2.5"/>)"
              R"(<path d="M16.5 5.5l3 2.5-3.5 1"/>)"},
    {"views", R"(<rect x="2.5" y="7" width="13" height="10" rx="1.5"/>)"
              R"(<path d="M15.5 10.5l6-3.5v10l-6-3.5"/>)"},
    {"copy", R"(<rect x="8" y="8" width="12" height="12" rx="1.5"/>)"
             R"(<path d="M16 8V5.5A1.5 1.5 0 0 0 14.5 4h-9A1.5 1.5 0 0 0 4 5.5v9)"
             R"(A1.5 1.5 0 0 0 5.5 16H8"/>)"},
    {"paste",
     R"(<path d="M9 4.5H6.5A1.5 1.5 0 0 0 5 6v13.5A1.5 1.5 0 0 0 6.5 21h11a1.5 1.5 0 0 0 1.5-1.5V6)"
     R"(a1.5 1.5 0 0 0-1.5-1.5H15"/><rect x="9" y="3" width="6" height="3" rx="1"/>)"
     R"(<path d="M9 11h6M9 15h4" opacity=".55"/>)"},
    {"import", R"(<path d="M4 14v6h16v-6"/><path d="M12 3v12M8 11l4 4 4-4"/>)"},
    {"export", R"(<path d="M4 14v6h16v-6"/><path d="M12 15V3M8 7l4-4 4 4"/>)"},
    {"measure",
     R"(<path d="M3 16L16 3l5 5L8 21z"/><path d="M7 12l2 2M10 9l2 2M13 6l2 2" opacity=".7"/>)"},
    {"section", R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z" opacity=".55"/>)"
                R"(<path d="M1 12l11-5.5L23 12l-11 5.5z" stroke-dasharray="2 2"/>)"},
    {"mass", R"(<path d="M6 9h12l2.5 11h-17z"/><circle cx="12" cy="6" r="2.5"/>)"
             R"(<path d="M10 15h4" opacity=".55"/>)"},
    {"interference",
     R"(<rect x="3" y="3" width="11" height="11"/><rect x="10" y="10" width="11" height="11"/>)"
     R"(<path d="M10 12l2-2M10 14l4-4M12 14l2-2" opacity=".7"/>)"},
    {"parameters", R"(<path d="M4 6h3M11 6h9M4 12h9M17 12h3M4 18h1M9 18h11" opacity=".55"/>)"
                   R"(<circle cx="9" cy="6" r="2"/><circle cx="15" cy="12" r="2"/>)"
                   R"(<circle cx="7" cy="18" r="2"/>)"},
    {"settings",
     R"(<path d="M18.7 9.9l2.4.5v3.2l-2.4.5-.5 1.2 1.3 2-2.2 2.2-2-1.3-1.2.5-.5 2.4h-3.2l-.5-2.4)"
     R"(-1.2-.5-2 1.3-2.2-2.2 1.3-2-.5-1.2-2.4-.5v-3.2l2.4-.5.5-1.2-1.3-2 2.2-2.2 2 1.3 1.2-.5)"
     R"(.5-2.4h3.2l.5 2.4 1.2.5 2-1.3 2.2 2.2-1.3 2z"/><circle cx="12" cy="12" r="3"/>)"},
    {"fit", R"(<path d="M4 9V4h5M15 4h5v5M20 15v5h-5M9 20H4v-5"/>)"
            R"(<rect x="9" y="9" width="6" height="6"/>)"},
    {"view_iso",
     R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"/>)"
     R"(<path d="M3 7.5l9 4.5 9-4.5M12 12v9" opacity=".55"/><circle cx="12" cy="12" r="1.5"/>)"},
    {"view_front", R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"/>)"
                   R"(<path d="M3 7.5l9 4.5v9l-9-4.5z" fill="C" fill-opacity=".35"/>)"},
    {"view_top", R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"/>)"
                 R"(<path d="M3 7.5L12 3l9 4.5-9 4.5z" fill="C" fill-opacity=".35"/>)"},
    {"view_right", R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"/>)"
                   R"(<path d="M21 7.5l-9 4.5v9l9-4.5z" fill="C" fill-opacity=".35"/>)"},
    {"look_at", R"(<path d="M14 3l6 3v15l-6-3z"/><path d="M3 12h8M8 9l3 3-3 3"/>)"},
    {"perspective",
     R"(<path d="M3 20L9 4h6l6 16z"/><path d="M5.5 13.5h13M7.5 8.5h9" opacity=".55"/>)"},
    {"display_shaded",
     R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z" fill="C" fill-opacity=".3"/>)"
     R"(<path d="M3 7.5l9 4.5 9-4.5M12 12v9" opacity=".6"/>)"},
    {"display_wire",
     R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"/><path d="M3 7.5l9 4.5 9-4.5M12 12v9"/>)"
     R"(<path d="M3 16.5l9-4.5 9 4.5M12 3v9" stroke-dasharray="1.5 2" opacity=".6"/>)"},
    {"eye", R"(<path d="M2 12s3.5-6.5 10-6.5S22 12 22 12s-3.5 6.5-10 6.5S2 12 2 12z"/>)"
            R"(<circle cx="12" cy="12" r="3"/>)"},
    {"eye_off",
     R"(<path d="M2 12s3.5-6.5 10-6.5S22 12 22 12s-3.5 6.5-10 6.5S2 12 2 12z" opacity=".55"/>)"
     R"(<circle cx="12" cy="12" r="3" opacity=".55"/><path d="M4 4l16 16"/>)"},

    // Browser
    {"body", R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z" fill="C" fill-opacity=".15"/>)"
             R"(<path d="M3 7.5l9 4.5 9-4.5M12 12v9"/>)"},
    {"bodies",
     R"(<path d="M9 6l6-3 6 3v6l-6 3" opacity=".55"/><path d="M15 9v6M9 6l6 3 6-3" opacity=".55"/>)"
     R"(<path d="M3 11l6-3 6 3v6l-6 3-6-3z"/><path d="M3 11l6 3 6-3M9 14v6"/>)"},
    {"folder", R"(<path d="M3 6.5A1.5 1.5 0 0 1 4.5 5H9l2 2.5h8.5A1.5 1.5 0 0 1 21 9v9.5)"
               R"(a1.5 1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 18.5z"/>)"},
    {"origin",
     R"(<path d="M12 11.2V3M10.4 14L4 18.5M13.6 14l6.4 4.5"/><circle cx="12" cy="13" r="1.8"/>)"},

    // Messages
    {"error", R"(<circle cx="12" cy="12" r="9"/><path d="M12 7v6M12 16.5v.5"/>)"},
    {"warning", R"(<path d="M12 3l10 18H2z"/><path d="M12 10v5M12 18v.4"/>)"},
    {"info", R"(<circle cx="12" cy="12" r="9"/><path d="M12 11v6M12 7.5v.5"/>)"},

    // Assemblies, output and history
    {"component", R"(<path d="M3 7.5l9-4.5 9 4.5v9L12 21l-9-4.5z"/>)"
                  R"(<path d="M3 7.5l9 4.5 9-4.5M12 12v9" opacity=".55"/>)"
                  R"(<circle cx="17" cy="17" r="2.5" fill="C" fill-opacity=".35"/>)"},
    {"assembly", R"(<rect x="3" y="3" width="8" height="8" rx="1"/>)"
                 R"(<rect x="13" y="13" width="8" height="8" rx="1"/>)"
                 R"(<path d="M11 7h6v6M7 11v6h6" opacity=".55"/>)"},
    {"mate", R"(<path d="M10.5 14.5a4 4 0 0 1 0-5.7l2.8-2.8a4 4 0 0 1 5.7 5.7l-1.4 1.4"/>)"
             R"(<path d="M13.5 9.5a4 4 0 0 1 0 5.7l-2.8 2.8a4 4 0 0 1-5.7-5.7l1.4-1.4"/>)"},
    {"ground", R"(<rect x="8" y="3" width="8" height="7" rx="1"/><path d="M12 10v4M4 14h16"/>)"
               R"(<path d="M7 14l-2.5 4M11 14l-2.5 4M15 14l-2.5 4M19 14l-2.5 4" opacity=".55"/>)"},
    {"explode",
     R"(<rect x="9" y="9" width="6" height="6"/><path d="M7 7L3.5 3.5M17 7l3.5-3.5M7 17l-3.5 3.5)"
     R"(M17 17l3.5 3.5"/><path d="M3 7V3h4M21 7V3h-4M3 17v4h4M21 17v4h-4" opacity=".7"/>)"},
    {"drawing", R"(<rect x="3" y="4" width="18" height="16" rx="1"/><path d="M13 20v-4h8"/>)"
                R"(<path d="M6 7h5v6H6zM11 10h3" opacity=".55"/>)"},
    {"appearance", R"(<path d="M12 3s6 6.5 6 11a6 6 0 0 1-12 0c0-4.5 6-11 6-11z"/>)"
                   R"(<path d="M9 14a3 3 0 0 0 3 3" opacity=".55"/>)"},
    {"sheet_base", R"(<path d="M3 12l9-4.5 9 4.5-9 4.5z"/><path d="M3 12v2.5L12 19l9-4.5V12"/>)"},
    {"sheet_flange", R"(<path d="M3 19h12a4 4 0 0 0 4-4V4"/><path d="M3 16h11a2 2 0 0 0 2-2V4"/>)"
                     R"(<path d="M3 16v3M16 4h3"/>)"},
    {"sheet_flat", R"(<path d="M3 8h4V4h10v4h4v8h-4v4H7v-4H3z"/>)"
                   R"(<path d="M7 8v8M17 8v8M7 8h10M7 16h10" opacity=".5"/>)"},
    {"timeline",
     R"(<path d="M3 12h18"/><rect x="5" y="8" width="3" height="8"/>)"
     R"(<rect x="11" y="8" width="3" height="8"/><path d="M18 5v14" stroke-width="2.2"/>)"},
    {"delete",
     R"(<path d="M4 7h16M9 7V4.5h6V7"/><path d="M6 7l1 13h10l1-13"/><path d="M10 11v5M14 11v5"/>)"},
    {"edit", R"(<path d="M4 20l1-4.5L16 4.5 19.5 8 8.5 19z"/><path d="M14 6.5l3.5 3.5"/>)"
             R"(<path d="M13 20h7" opacity=".55"/>)"},
    {"rollback",
     R"(<path d="M4 12a8 8 0 1 0 2.3-5.7"/><path d="M6.5 2.5v4h-4"/><path d="M12 8v4.5l3 2"/>)"},

    // Chrome and tools
    {"chevron_down", R"(<path d="M6 9l6 6 6-6"/>)"},
    {"chevron_right", R"(<path d="M9 6l6 6-6 6"/>)"},
    {"chevron_left", R"(<path d="M15 6l-6 6 6 6"/>)"},
    {"menu", R"(<path d="M4 6h16M4 12h16M4 18h16"/>)"},
    {"search", R"(<circle cx="10.5" cy="10.5" r="6.5"/><path d="M15.5 15.5L20 20"/>)"},
    {"help", R"(<circle cx="12" cy="12" r="9"/>)"
             R"(<path d="M9.5 9.5a2.5 2.5 0 1 1 3.5 2.3c-.7.3-1 .9-1 1.7v.5M12 17v.5"/>)"},
    {"grid", R"(<path d="M4 4h16v16H4zM4 10h16M4 15h16M10 4v16M15 4v16" opacity=".85"/>)"},
    {"snap", R"(<path d="M5 4v8a7 7 0 0 0 14 0V4h-4v8a3 3 0 0 1-6 0V4z"/>)"
             R"(<path d="M5 8h4M15 8h4" opacity=".55"/>)"},
    {"update", R"(<path d="M20 11a8 8 0 0 0-14.5-4.5M4 13a8 8 0 0 0 14.5 4.5"/>)"
               R"(<path d="M5 2.5v4h4M19 21.5v-4h-4"/>)"},
    {"thread", R"(<path d="M7 3h10v4H7z"/><path d="M9 7v14h6V7"/>)"
               R"(<path d="M9 10l6-1.5M9 13l6-1.5M9 16l6-1.5M9 19l6-1.5" opacity=".7"/>)"},
};

} // namespace

const QHash<QString, QString>& builtinIconSvgs()
{
    static const QHash<QString, QString> icons = [] {
        QHash<QString, QString> table;
        for (const auto& [name, markup] : iconTable)
            table.insert(QString::fromLatin1(name), QString::fromLatin1(markup));
        return table;
    }();
    return icons;
}

} // namespace qor::app
