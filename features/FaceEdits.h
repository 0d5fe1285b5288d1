#pragma once

namespace qor::model {

class ExecContext;

// Executors that change picked faces of existing bodies in place, once per body
// in ascending body id order: "draft" tilts faces about a neutral plane,
// "offset_faces" moves them along their normals, "delete_faces" removes them and
// closes the gap.
void execDraft(ExecContext& context);
void execOffsetFaces(ExecContext& context);
void execDeleteFaces(ExecContext& context);

} // namespace qor::model
