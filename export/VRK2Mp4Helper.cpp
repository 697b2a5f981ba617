#define FLOG_SOURCE "export/VRK2Mp4Helper"
#include "VRK2Mp4Helper.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShader>

#include "FLog.h"

namespace {

const char* const kVertexShader = R"(#version 330 core
in vec3 aPos;
in vec2 aTexPos;
out vec2 textureOut;
void main()
{
    gl_Position = vec4(aPos, 1.0);
    textureOut = vec2(aTexPos.x, 1.0 - aTexPos.y);
}
)";

// Full-range BT.601 YCbCr to RGB, the inverse of what the encoder's planes are made with below (the
// recorder hands over full-range planes). The analog-YUV factors (1.140 for V, 2.032 for U) made
// the video's red colour difference a fifth too weak and its blue one 15 % too strong.
const char* const kFragmentShader = R"(#version 330 core
in vec2 textureOut;
uniform sampler2D tex_y;
uniform sampler2D tex_u;
uniform sampler2D tex_v;
out vec4 FragColor;
void main()
{
    vec3 yuv;
    yuv.x = texture(tex_y, textureOut).r;
    yuv.y = texture(tex_u, textureOut).r - 0.5;
    yuv.z = texture(tex_v, textureOut).r - 0.5;
    vec3 rgb = mat3(1.0, 1.0, 1.0,
                    0.0, -0.344136, 1.772,
                    1.402, -0.714136, 0.0) * yuv;
    FragColor = vec4(rgb, 1.0);
}
)";

const GLuint kIndices[6] = {0, 1, 3, 1, 2, 3};

// One triangle over the whole target, without vertex data: (-1, -1), (3, -1), (-1, 3).
const char* const kFullTargetVertexShader = R"(#version 330 core
void main()
{
    gl_Position = vec4(float((gl_VertexID & 1) << 2) - 1.0, float((gl_VertexID & 2) << 1) - 1.0, 0.0, 1.0);
}
)";

// Studio-range BT.601 luma of each pixel. The picture's first (top) row is the texture's row `top`:
// the plane comes out top row first, as the encoder wants it.
const char* const kLumaShader = R"(#version 330 core
uniform sampler2D picture;
uniform int top;
out vec4 FragColor;
void main()
{
    ivec2 p = ivec2(gl_FragCoord.xy);
    vec3 c = texelFetch(picture, ivec2(p.x, top - p.y), 0).rgb;
    FragColor = vec4((16.0 + dot(c, vec3(65.481, 128.553, 24.966))) / 255.0, 0.0, 0.0, 1.0);
}
)";

// Cb and Cr of each 2 x 2 block, from the block's mean colour.
const char* const kChromaShader = R"(#version 330 core
uniform sampler2D picture;
uniform int top;
out vec4 FragColor;
void main()
{
    ivec2 p = ivec2(gl_FragCoord.xy) * 2;
    int row = top - p.y;
    vec3 c = (texelFetch(picture, ivec2(p.x, row), 0).rgb + texelFetch(picture, ivec2(p.x + 1, row), 0).rgb +
              texelFetch(picture, ivec2(p.x, row - 1), 0).rgb +
              texelFetch(picture, ivec2(p.x + 1, row - 1), 0).rgb) * 0.25;
    FragColor = vec4((128.0 + dot(c, vec3(-37.797, -74.203, 112.0))) / 255.0,
                     (128.0 + dot(c, vec3(112.0, -93.786, -18.214))) / 255.0, 0.0, 1.0);
}
)";

// The texture unit the picture is read from while it is converted (10 to 12 hold the planes).
constexpr int kPictureUnit = 13;

}  // namespace

VRK2Mp4Helper::VRK2Mp4Helper() = default;

VRK2Mp4Helper::~VRK2Mp4Helper() {
    if (!m_initialised) {
        return;
    }
    if (!m_context) {
        // The context is gone and its objects with it; there is nothing left to delete.
        m_framebuffer.reset();
        m_luma.reset();
        m_chroma.reset();
        return;
    }
    // The GL objects belong to our context: make it current for the deletion if it is not, and put
    // back whatever was current before.
    QOpenGLContext* previous = QOpenGLContext::currentContext();
    QSurface* previousSurface = previous ? previous->surface() : nullptr;
    std::unique_ptr<QOffscreenSurface> surface;
    if (previous != m_context) {
        surface = std::make_unique<QOffscreenSurface>();
        surface->setFormat(m_context->format());
        surface->create();
        if (!surface->isValid() || !m_context->makeCurrent(surface.get())) {
            FLOG(FLOG_WARN, "cannot make the export context current; GL objects left to the context");
            m_framebuffer.reset();
            m_luma.reset();
            m_chroma.reset();
            return;
        }
    }
    releaseGL();
    m_framebuffer.reset();
    m_program.removeAllShaders();
    if (surface) {
        m_context->doneCurrent();
        if (previous && previousSurface) {
            previous->makeCurrent(previousSurface);
        }
    }
}

void VRK2Mp4Helper::releaseGL() {
    QOpenGLFunctions_3_2_Core* f = m_functions;
    const GLuint textures[3] = {m_texture_y, m_texture_u, m_texture_v};
    f->glDeleteTextures(3, textures);
    f->glDeleteBuffers(1, &m_vertex_buffer);
    f->glDeleteBuffers(1, &m_index_buffer);
    f->glDeleteVertexArrays(1, &m_vertex_array);
    f->glDeleteVertexArrays(1, &m_empty_array);
    m_texture_y = m_texture_u = m_texture_v = 0;
    m_vertex_buffer = m_index_buffer = m_vertex_array = m_empty_array = 0;
    m_luma.reset();
    m_chroma.reset();
    m_luma_program.reset();
    m_chroma_program.reset();
}

int VRK2Mp4Helper::initGL(QOpenGLFunctions_3_2_Core* functions) {
    if (!functions) {
        return -3;
    }
    m_functions = functions;
    m_functions->initializeOpenGLFunctions();
    m_context = QOpenGLContext::currentContext();
    // OpenGL clamps the components to 1.0: white.
    m_functions->glClearColor(255, 255, 255, 255);

    if (!m_program.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) || !m_program.link()) {
        FLOG(FLOG_ERROR, "Compile the type(%d) is fail:%s", int(QOpenGLShader::Vertex),
             m_program.log().toUtf8().constData());
        return -1;
    }
    m_program.bind();
    if (!m_program.addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) || !m_program.link()) {
        FLOG(FLOG_ERROR, "Compile the type(%d) is fail:%s", int(QOpenGLShader::Fragment),
             m_program.log().toUtf8().constData());
        return -2;
    }
    m_program.bind();

    GLuint textures[3] = {0, 0, 0};
    m_functions->glGenTextures(3, textures);
    m_texture_y = textures[0];
    m_texture_u = textures[1];
    m_texture_v = textures[2];
    for (int i = 0; i < 3; ++i) {
        m_functions->glActiveTexture(GL_TEXTURE10 + i);
        m_functions->glBindTexture(GL_TEXTURE_2D, textures[i]);
        m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    m_program.setUniformValue("tex_y", 10);
    m_program.setUniformValue("tex_u", 11);
    m_program.setUniformValue("tex_v", 12);
    m_initialised = true;
    return 0;
}

void VRK2Mp4Helper::setVertices(const float* data, int count) {
    QOpenGLFunctions_3_2_Core* f = m_functions;
    m_program.bind();
    f->glDeleteBuffers(1, &m_vertex_buffer);
    f->glDeleteBuffers(1, &m_index_buffer);
    f->glDeleteVertexArrays(1, &m_vertex_array);

    f->glGenVertexArrays(1, &m_vertex_array);
    f->glBindVertexArray(m_vertex_array);
    f->glGenBuffers(1, &m_vertex_buffer);
    f->glBindBuffer(GL_ARRAY_BUFFER, m_vertex_buffer);
    f->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(count) * 4, data, GL_STATIC_DRAW);
    const GLint pos = m_program.attributeLocation("aPos");
    const GLint tex = m_program.attributeLocation("aTexPos");
    f->glVertexAttribPointer(GLuint(pos), 3, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<const void*>(0));
    f->glEnableVertexAttribArray(GLuint(pos));
    f->glVertexAttribPointer(GLuint(tex), 2, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<const void*>(12));
    f->glEnableVertexAttribArray(GLuint(tex));
    f->glGenBuffers(1, &m_index_buffer);
    f->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_index_buffer);
    f->glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(kIndices), kIndices, GL_STATIC_DRAW);

    f->glBindBuffer(GL_ARRAY_BUFFER, 0);
    f->glBindVertexArray(0);
    m_program.release();
}

void VRK2Mp4Helper::draw(const SRecordFrame& frame) {
    QOpenGLFunctions_3_2_Core* f = m_functions;
    m_program.bind();
    const GLsizei w = frame.width;
    const GLsizei h = frame.height;
    f->glActiveTexture(GL_TEXTURE10);
    f->glBindTexture(GL_TEXTURE_2D, m_texture_y);
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, w, h, 0, GL_RED, GL_UNSIGNED_BYTE, frame.y);
    f->glActiveTexture(GL_TEXTURE11);
    f->glBindTexture(GL_TEXTURE_2D, m_texture_u);
    f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, w >> 1, h >> 1, 0, GL_RED, GL_UNSIGNED_BYTE, frame.u);
    f->glActiveTexture(GL_TEXTURE12);
    f->glBindTexture(GL_TEXTURE_2D, m_texture_v);
    f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, w >> 1, h >> 1, 0, GL_RED, GL_UNSIGNED_BYTE, frame.v);

    f->glBindVertexArray(m_vertex_array);
    f->glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    f->glBindVertexArray(0);
    m_program.release();
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

void VRK2Mp4Helper::ensureFramebuffer(int width, int height) {
    if (m_framebuffer && m_framebuffer->width() == width && m_framebuffer->height() == height) {
        return;
    }
    QOpenGLFramebufferObjectFormat format;
    format.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
    m_framebuffer = std::make_shared<QOpenGLFramebufferObject>(width, height, format);
}

void VRK2Mp4Helper::bindFramebuffer() {
    if (m_framebuffer) {
        m_framebuffer->bind();
    }
}

void VRK2Mp4Helper::releaseFramebuffer() {
    if (m_framebuffer) {
        m_framebuffer->release();
    }
}

void VRK2Mp4Helper::resetFramebuffer() {
    m_framebuffer.reset();
}

// ---------------------------------------------------------------------------------------------
// Conversion for the encoder

QSize VRK2Mp4Helper::nv12Size() const {
    return m_framebuffer ? QSize(m_framebuffer->width() & ~1, m_framebuffer->height() & ~1) : QSize();
}

size_t VRK2Mp4Helper::nv12Bytes() const {
    const QSize size = nv12Size();
    return size_t(size.width()) * size_t(size.height()) * 3 / 2;
}

bool VRK2Mp4Helper::initNv12() {
    if (m_luma_program) {
        return true;
    }
    if (m_nv12_failed || !m_initialised) {
        return false;
    }
    auto make = [](const char* fragment) {
        auto program = std::make_unique<QOpenGLShaderProgram>();
        if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kFullTargetVertexShader) ||
            !program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment) || !program->link()) {
            FLOG(FLOG_ERROR, "the conversion for the encoder cannot be set up: %s",
                 program->log().toUtf8().constData());
            return std::unique_ptr<QOpenGLShaderProgram>();
        }
        program->bind();
        program->setUniformValue("picture", kPictureUnit);
        program->release();
        return program;
    };
    std::unique_ptr<QOpenGLShaderProgram> luma = make(kLumaShader);
    std::unique_ptr<QOpenGLShaderProgram> chroma = luma ? make(kChromaShader) : nullptr;
    if (!chroma) {
        m_nv12_failed = true;
        return false;
    }
    m_luma_program = std::move(luma);
    m_chroma_program = std::move(chroma);
    m_functions->glGenVertexArrays(1, &m_empty_array);
    return true;
}

bool VRK2Mp4Helper::convertToNv12(const QRect& changed) {
    const QSize size = nv12Size();
    if (size.isEmpty() || !initNv12()) {
        return false;
    }
    if (!m_luma || m_luma->size() != size) {
        m_converted_from = nullptr;
        m_luma = std::make_unique<QOpenGLFramebufferObject>(size, QOpenGLFramebufferObject::NoAttachment,
                                                            GL_TEXTURE_2D, GL_R8);
        m_chroma = std::make_unique<QOpenGLFramebufferObject>(
            size / 2, QOpenGLFramebufferObject::NoAttachment, GL_TEXTURE_2D, GL_RG8);
        if (!m_luma->isValid() || !m_chroma->isValid()) {
            FLOG(FLOG_ERROR, "no %dx%d planes for the encoder", size.width(), size.height());
            m_luma.reset();
            m_chroma.reset();
            m_nv12_failed = true;
            return false;
        }
    }
    QRect rows(QPoint(0, 0), size);
    if (m_converted_from == m_framebuffer.get() && !changed.isNull()) {
        rows &= changed;
    }
    m_converted_from = m_framebuffer.get();
    if (!rows.isEmpty()) {
        QOpenGLFunctions_3_2_Core* f = m_functions;
        f->glDisable(GL_BLEND);
        f->glDisable(GL_DEPTH_TEST);
        f->glDisable(GL_STENCIL_TEST);
        f->glEnable(GL_SCISSOR_TEST);
        f->glActiveTexture(GL_TEXTURE0 + kPictureUnit);
        f->glBindTexture(GL_TEXTURE_2D, m_framebuffer->texture());
        convertPlane(*m_luma_program, *m_luma, rows);
        // Every 2 x 2 block the changed pixels touch.
        const QRect blocks(QPoint(rows.left() / 2, rows.top() / 2),
                           QPoint(rows.right() / 2, rows.bottom() / 2));
        convertPlane(*m_chroma_program, *m_chroma, blocks);
        f->glBindTexture(GL_TEXTURE_2D, 0);
        f->glActiveTexture(GL_TEXTURE0);
        f->glDisable(GL_SCISSOR_TEST);
        f->glViewport(0, 0, m_framebuffer->width(), m_framebuffer->height());
    }
    QOpenGLFramebufferObject::bindDefault();
    return true;
}

// Plane row r holds picture row r, so `rows` is also the scissor box in the plane's own coordinates.
void VRK2Mp4Helper::convertPlane(QOpenGLShaderProgram& program, QOpenGLFramebufferObject& target,
                                 const QRect& rows) {
    QOpenGLFunctions_3_2_Core* f = m_functions;
    target.bind();
    f->glViewport(0, 0, target.width(), target.height());
    f->glScissor(rows.x(), rows.y(), rows.width(), rows.height());
    program.bind();
    program.setUniformValue("top", m_framebuffer->height() - 1);
    f->glBindVertexArray(m_empty_array);
    f->glDrawArrays(GL_TRIANGLES, 0, 3);
    f->glBindVertexArray(0);
    program.release();
}

bool VRK2Mp4Helper::readNv12(uint8_t* dst, const QRect& changed) {
    if (!m_luma || !m_chroma) {
        return false;
    }
    QOpenGLFunctions_3_2_Core* f = m_functions;
    const int w = m_luma->width();
    const int h = m_luma->height();
    QRect luma(0, 0, w, h);
    if (!changed.isNull()) {
        luma &= changed;
    }
    f->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!luma.isEmpty()) {
        // Plane row r is picture row r: the rectangle is read where it is, into rows of the plane's
        // full width.
        const QRect blocks(QPoint(luma.left() / 2, luma.top() / 2),
                           QPoint(luma.right() / 2, luma.bottom() / 2));
        f->glPixelStorei(GL_PACK_ROW_LENGTH, w);
        m_luma->bind();
        f->glReadPixels(luma.x(), luma.y(), luma.width(), luma.height(), GL_RED, GL_UNSIGNED_BYTE,
                        dst + size_t(luma.y()) * w + luma.x());
        f->glPixelStorei(GL_PACK_ROW_LENGTH, w / 2);
        m_chroma->bind();
        f->glReadPixels(blocks.x(), blocks.y(), blocks.width(), blocks.height(), GL_RG, GL_UNSIGNED_BYTE,
                        dst + size_t(w) * h + (size_t(blocks.y()) * (w / 2) + blocks.x()) * 2);
        QOpenGLFramebufferObject::bindDefault();
    }
    f->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    f->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return f->glGetError() == GL_NO_ERROR;
}
