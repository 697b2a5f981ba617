#pragma once
// OpenGL side of the export: uploads a decoded YUV 4:2:0 frame into three single-channel textures
// and draws it, converted to RGB in the fragment shader, into an off-screen framebuffer.
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions_3_2_Core>
#include <QOpenGLShaderProgram>
#include <QPointer>

#include <memory>

#include "IMediaRecorder.h"

class QOpenGLContext;

class VRK2Mp4Helper {
public:
    VRK2Mp4Helper();
    virtual ~VRK2Mp4Helper();

    // Prepares shaders, textures and uniforms on the current context: 0 success, -3 no functions,
    // -1 vertex shader failed, -2 fragment shader failed.
    int initGL(QOpenGLFunctions_3_2_Core* functions);
    // Replaces the quad: `count` floats, five per vertex (x, y, z, u, v).
    void setVertices(const float* data, int count);
    // Uploads the frame's planes and draws the quad into the bound framebuffer.
    void draw(const SRecordFrame& frame);

    void ensureFramebuffer(int width, int height);
    void bindFramebuffer();
    void releaseFramebuffer();
    void resetFramebuffer();
    std::shared_ptr<QOpenGLFramebufferObject> framebuffer() const { return m_framebuffer; }
    QOpenGLFunctions_3_2_Core* functions() const { return m_functions; }

    // Converts the framebuffer's picture for the encoder: NV12, BT.601 studio range, of the even
    // size (a last odd column or row is left out). The planes stay on the GPU between frames; only
    // `changed` (picture coordinates, top row 0; null: everything) is converted again, the rest is
    // kept. False (logged once) when the planes cannot be made. Leaves no framebuffer bound and the
    // viewport on the whole framebuffer.
    bool convertToNv12(const QRect& changed);
    QSize nv12Size() const;
    // Reads the converted planes into `dst` (nv12Bytes() bytes: luma rows, then Cb/Cr pair rows, top
    // row first), only the pixels of `changed` (picture coordinates; null: all) and the chroma
    // blocks they touch; false on a GL error.
    bool readNv12(uint8_t* dst, const QRect& changed = QRect());
    size_t nv12Bytes() const;

private:
    void releaseGL();
    bool initNv12();
    void convertPlane(QOpenGLShaderProgram& program, QOpenGLFramebufferObject& target, const QRect& rows);

    QOpenGLShaderProgram m_program;
    GLuint m_vertex_array = 0;
    GLuint m_vertex_buffer = 0;
    GLuint m_index_buffer = 0;
    GLuint m_texture_y = 0;
    GLuint m_texture_u = 0;
    GLuint m_texture_v = 0;
    bool m_initialised = false;
    QOpenGLFunctions_3_2_Core* m_functions = nullptr;
    std::shared_ptr<QOpenGLFramebufferObject> m_framebuffer;
    QPointer<QOpenGLContext> m_context;  // the context the GL objects belong to

    // NV12 conversion: one program per plane, a vertex array for the attribute-less full-screen
    // triangle, and the luma (R8) and chroma (RG8) planes.
    std::unique_ptr<QOpenGLShaderProgram> m_luma_program;
    std::unique_ptr<QOpenGLShaderProgram> m_chroma_program;
    GLuint m_empty_array = 0;
    bool m_nv12_failed = false;
    std::unique_ptr<QOpenGLFramebufferObject> m_luma;
    std::unique_ptr<QOpenGLFramebufferObject> m_chroma;
    const void* m_converted_from = nullptr;  // the framebuffer the planes hold a conversion of
};
