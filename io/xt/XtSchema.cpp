#include "io/xt/XtSchema.h"

#include <QString>
#include <QStringList>

namespace qor::io {

namespace {

// The node types of schema key "13006", one per line: code, name, then field:spec parts.
// A spec is the type letter followed by the count: nothing for 1, "v" for a variable field.
constexpr const char* baseSchemaText = R"(
10 ASSEMBLY highest_node_id:d attributes_features:p attribute_chains:p list:p surface:p curve:p point:p key:p res_size:f res_linear:f ref_instance:p next:p previous:p state:u owner:p type:u sub_instance:p
11 INSTANCE node_id:d attributes_features:p type:u part:p transform:p assembly:p next_in_part:p prev_in_part:p next_of_part:p prev_of_part:p
12 BODY highest_node_id:d attributes_features:p attribute_chains:p surface:p curve:p point:p key:p res_size:f res_linear:f ref_instance:p next:p previous:p state:u owner:p body_type:u nom_geom_state:u shell:p boundary_surface:p boundary_curve:p boundary_point:p region:p edge:p vertex:p
13 SHELL node_id:d attributes_features:p body:p next:p face:p edge:p vertex:p region:p front_face:p
14 FACE node_id:d attributes_features:p tolerance:f next:p previous:p loop:p shell:p surface:p sense:c next_on_surface:p previous_on_surface:p next_front:p previous_front:p front_shell:p
15 LOOP node_id:d attributes_features:p halfedge:p face:p next:p
16 EDGE node_id:d attributes_features:p tolerance:f halfedge:p previous:p next:p curve:p next_on_curve:p previous_on_curve:p owner:p
17 HALFEDGE attributes_features:p loop:p forward:p backward:p vertex:p other:p edge:p curve:p next_at_vx:p sense:c
18 VERTEX node_id:d attributes_features:p halfedge:p previous:p next:p point:p tolerance:f owner:p
19 REGION node_id:d attributes_features:p body:p next:p previous:p shell:p type:c
29 POINT node_id:d attributes_features:p owner:p next:p previous:p pvec:v
30 LINE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c pvec:v direction:v
31 CIRCLE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c centre:v normal:v x_axis:v radius:f
32 ELLIPSE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c centre:v normal:v x_axis:v major_radius:f minor_radius:f
38 INTERSECTION node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c surface:p2 chart:p start:p end:p
40 CHART base_parameter:f base_scale:f chart_count:d chordal_error:f angular_error:f parameter_error:f2 hvec:hv
41 LIMIT type:c hvec:hv
45 BSPLINE_VERTICES vertices:fv
50 PLANE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c pvec:v normal:v x_axis:v
51 CYLINDER node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c pvec:v axis:v radius:f x_axis:v
52 CONE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c pvec:v axis:v radius:f sin_half_angle:f cos_half_angle:f x_axis:v
53 SPHERE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c centre:v radius:f axis:v x_axis:v
54 TORUS node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c centre:v axis:v major_radius:f minor_radius:f x_axis:v
56 BLENDED_EDGE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c blend_type:c surface:p2 spine:p range:f2 thumb_weight:f2 boundary:p2 start:p end:p
59 BLEND_BOUND node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c boundary:n blend:p
60 OFFSET_SURF node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c check:c true_offset:l surface:p offset:f scale:f
67 SWEPT_SURF node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c section:p sweep:v scale:f
68 SPUN_SURF node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c profile:p base:v axis:v start:v end:v start_param:f end_param:f x_axis:v scale:f
70 LIST node_id:d owner:p next:p previous:p list_type:u list_length:d block_length:d size_of_entry:d list_block:p
74 POINTER_LIS_BLOCK n_entries:d next_block:p entries:pv
79 ATT_DEF_ID string:cv
80 ATTRIB_DEF next:p identifier:p type_id:d actions:u8 field_names:p legal_owners:l14 fields:uv
81 ATTRIBUTE node_id:d definition:p owner:p next:p previous:p next_of_type:p previous_of_type:p fields:pv
82 INT_VALUES values:dv
83 REAL_VALUES values:fv
84 CHAR_VALUES values:cv
85 POINT_VALUES values:vv
86 VECTOR_VALUES values:vv
87 AXIS_VALUES values:vv
88 TAG_VALUES values:tv
89 DIRECTION_VALUES values:vv
90 FEATURE node_id:d attributes_features:p owner:p next:p previous:p type:u first_member:p
91 MEMBER_OF_FEATURE dummy_node_id:d owning_feature:p owner:p next:p previous:p next_member:p previous_member:p
98 UNICODE_VALUES values:wv
99 FIELD_NAMES names:pv
100 TRANSFORM node_id:d owner:p next:p previous:p rotation_matrix:f9 translation_vector:v scale:f flag:d perspective_vector:v
101 WORLD assembly:p attribute:p body:p transform:p surface:p curve:p point:p alive:l attrib_def:p highest_id:d current_id:d
102 KEY string:cv
120 PE_SURF node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c type:c data:p tf:p internal_geom:pv
121 INT_PE_DATA geom_type:d real_array:p int_array:p
122 EXT_PE_DATA key:p real_array:p int_array:p
124 B_SURFACE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c nurbs:p data:p
125 SURFACE_DATA original_uint:i original_vint:i extended_uint:i extended_vint:i self_int:u original_u_start:c original_u_end:c original_v_start:c original_v_end:c extended_u_start:c extended_u_end:c extended_v_start:c extended_v_end:c analytic_form_type:c swept_form_type:c spun_form_type:c blend_form_type:c analytic_form:p swept_form:p spun_form:p blend_form:p
126 NURBS_SURF u_periodic:l v_periodic:l u_degree:n v_degree:n n_u_vertices:d n_v_vertices:d u_knot_type:u v_knot_type:u n_u_knots:d n_v_knots:d rational:l u_closed:l v_closed:l surface_form:u vertex_dim:n bspline_vertices:p u_knot_mult:p v_knot_mult:p u_knots:p v_knots:p
127 KNOT_MULT mult:nv
128 KNOT_SET knots:fv
130 PE_CURVE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c type:c data:p tf:p internal_geom:pv
133 TRIMMED_CURVE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c basis_curve:p point_1:v point_2:v parm_1:f parm_2:f
134 B_CURVE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c nurbs:p data:p
135 CURVE_DATA self_int:u analytic_form:p
136 NURBS_CURVE degree:n n_vertices:d vertex_dim:n n_knots:d knot_type:u periodic:l closed:l rational:l curve_form:u bspline_vertices:p knot_mult:p knots:p
137 SP_CURVE node_id:d attributes_features:p owner:p next:p previous:p geometric_owner:p sense:c surface:p b_curve:p original:p tolerance_to_original:f
141 GEOMETRIC_OWNER owner:p next:p previous:p shared_geometry:p
163 HELIX_SU_FORM axis_pt:v axis_dir:v hand:c turns:i pitch:f gap:f tol:f
184 HELIX_CU_FORM axis_pt:v axis_dir:v point:v hand:c turns:i pitch:f tol:f
)";

XtFieldDesc parseFieldSpec(const QString& part)
{
    XtFieldDesc desc;
    const qsizetype colon = part.indexOf(u':');
    desc.name = part.left(colon).toStdString();
    const QString spec = colon < 0 ? QString() : part.mid(colon + 1);
    if (spec.isEmpty())
        return desc;
    desc.type = spec.at(0).toLatin1();
    const QString count = spec.mid(1);
    if (count == QStringLiteral("v"))
        desc.count = -1;
    else if (!count.isEmpty())
        desc.count = count.toInt();
    return desc;
}

// An edit of the base type, one operation letter at a time: copy (C) or drop (D) the base
// field at the cursor, insert (I, A) a field read from the file, end (Z).
XtNodeType readSchemaEdit(XtStream& stream, const XtNodeType& base, int fieldCount)
{
    XtNodeType type;
    std::size_t cursor = 0;
    for (;;) {
        switch (stream.readU8()) {
        case 'C':
            if (cursor >= base.fields.size())
                throw XtError(QStringLiteral("Schema-Bearbeitung kopiert über das Ende hinaus"));
            type.fields.push_back(base.fields[cursor++]);
            break;
        case 'D': ++cursor; break;
        case 'I':
        case 'A': type.fields.push_back(readXtFieldDesc(stream)); break;
        case 'Z':
            if (static_cast<int>(type.fields.size()) != fieldCount)
                throw XtError(QStringLiteral("Schema-Bearbeitung ergibt falsche Feldzahl"));
            return type;
        default: throw XtError(QStringLiteral("Unbekannte Schema-Operation"));
        }
    }
}

bool isEditLetter(int byte)
{
    return byte == 'C' || byte == 'D' || byte == 'I' || byte == 'A' || byte == 'Z';
}

} // namespace

XtSchema buildXtBaseSchema()
{
    XtSchema schema;
    const QStringList lines = QString::fromLatin1(baseSchemaText).split(u'\n');
    for (const QString& line : lines) {
        const QStringList parts = line.split(u' ', Qt::SkipEmptyParts);
        if (parts.size() < 2)
            continue;
        XtNodeType type;
        for (qsizetype i = 2; i < parts.size(); ++i)
            type.fields.push_back(parseFieldSpec(parts[i]));
        type.reindex();
        schema[parts[0].toInt()] = std::move(type);
    }
    return schema;
}

const XtSchema& xtBaseSchema()
{
    static const XtSchema schema = buildXtBaseSchema();
    return schema;
}

XtNodeType readXtNodeTypeDefinition(XtStream& stream, int code)
{
    const int fieldCount = stream.readU8();
    const XtSchema& baseSchema = xtBaseSchema();
    const auto base = baseSchema.find(code);

    XtNodeType type;
    if (fieldCount == 255) {
        if (base == baseSchema.end()) {
            throw XtError(QStringLiteral("Knotentyp %1 fehlt im Basisschema").arg(code));
        }
        type = base->second;
    } else if (base != baseSchema.end() && isEditLetter(stream.peekU8())) {
        type = readSchemaEdit(stream, base->second, fieldCount);
    } else {
        stream.readShortString(); // the type's name and description, not needed
        stream.readShortString();
        for (int i = 0; i < fieldCount; ++i)
            type.fields.push_back(readXtFieldDesc(stream));
    }
    type.reindex();
    return type;
}

} // namespace qor::io
