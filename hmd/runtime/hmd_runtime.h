/* hmd_runtime: the head-mounted display runtime, interface version 0.4 (C calls, shared library).
 * Devices come from the environment: HMD_RUNTIME_DEVICE=simulated selects one simulated headset
 * whose frames are lens-distorted on the GPU and shown in the application's window. Depends on SDL2
 * (window swap, monitor names, clock) and OpenGL through libepoxy; nothing else of the system. */
#pragma once

#include <stdint.h>

#if defined(HMD_RUNTIME_BUILD)
#define HMD_EXPORT __attribute__((visibility("default")))
#else
#define HMD_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef char hmdBool;
#define hmdFalse 0
#define hmdTrue 1

typedef struct hmdVector2i {
  int x, y;
} hmdVector2i;

typedef struct hmdSizei {
  int w, h;
} hmdSizei;

/* A rectangle in pixels; Pos is the lower-left corner in GL terms (rows count from the bottom). */
typedef struct hmdRecti {
  hmdVector2i Pos;
  hmdSizei Size;
} hmdRecti;

typedef struct hmdVector2f {
  float x, y;
} hmdVector2f;

typedef struct hmdVector3f {
  float x, y, z;
} hmdVector3f;

typedef struct hmdQuatf {
  float x, y, z, w;
} hmdQuatf;

/* Row-major storage for column vectors: v' = M v, M[row][column]. */
typedef struct hmdMatrix4f {
  float M[4][4];
} hmdMatrix4f;

/* Position in metres in the tracking frame (right-handed, +Y up, the user faces -Z). */
typedef struct hmdPosef {
  hmdQuatf Orientation;
  hmdVector3f Position;
} hmdPosef;

/* A field of view as the tangents of the half-angles from the eye's forward axis. */
typedef struct hmdFovPort {
  float UpTan;
  float DownTan;
  float LeftTan;
  float RightTan;
} hmdFovPort;

/* In C++ every int is a value of the enums the runtime checks, as in C, so that a caller's
 * out-of-range value reaches those checks instead of being undefined. */
#ifdef __cplusplus
#define HMD_INT_ENUM : int
#else
#define HMD_INT_ENUM
#endif

typedef enum hmdEyeType HMD_INT_ENUM {
  hmdEye_Left = 0,
  hmdEye_Right = 1,
  hmdEye_Count = 2
} hmdEyeType;

typedef enum hmdHmdType HMD_INT_ENUM {
  hmdHmd_None = 0,
  hmdHmd_DK1 = 3,
  hmdHmd_DKHD = 4,
  hmdHmd_DK2 = 6,
  hmdHmd_Other = 7
} hmdHmdType;

/* Display capabilities (hmd_SetEnabledCaps). */
enum {
  hmdHmdCap_Present = 0x0001,
  hmdHmdCap_Available = 0x0002,
  hmdHmdCap_Captured = 0x0004,
  hmdHmdCap_ExtendDesktop = 0x0008,
  hmdHmdCap_DisplayOff = 0x0040,
  hmdHmdCap_LowPersistence = 0x0080,
  hmdHmdCap_DynamicPrediction = 0x0200,
  hmdHmdCap_NoVSync = 0x1000,
  hmdHmdCap_NoMirrorToWindow = 0x2000
};

/* Tracking capabilities (hmd_ConfigureTracking). */
enum {
  hmdTrackingCap_Orientation = 0x0010,
  hmdTrackingCap_MagYawCorrection = 0x0020,
  hmdTrackingCap_Position = 0x0040,
  hmdTrackingCap_Idle = 0x0100
};

/* Distortion capabilities (hmd_ConfigureRendering). */
enum {
  hmdDistortionCap_Chromatic = 0x00001,
  hmdDistortionCap_TimeWarp = 0x00002,
  hmdDistortionCap_Vignette = 0x00008,
  hmdDistortionCap_NoRestore = 0x00010,
  hmdDistortionCap_FlipInput = 0x00020,
  hmdDistortionCap_SRGB = 0x00040,
  hmdDistortionCap_Overdrive = 0x00080,
  hmdDistortionCap_HqDistortion = 0x00100,
  hmdDistortionCap_ProfileNoTimewarpSpinWaits = 0x10000
};

typedef struct hmdDesc {
  hmdHmdType Type;
  const char* ProductName;
  const char* Manufacturer;
  short VendorId;
  short ProductId;
  char SerialNumber[24];
  short FirmwareMajor;
  short FirmwareMinor;
  unsigned int HmdCaps;        /* capabilities the device has */
  unsigned int TrackingCaps;   /* tracking capabilities the device has */
  unsigned int DistortionCaps; /* distortion capabilities the device supports */
  hmdFovPort DefaultEyeFov[hmdEye_Count];
  hmdFovPort MaxEyeFov[hmdEye_Count];
  hmdEyeType EyeRenderOrder[hmdEye_Count];
  hmdSizei Resolution;    /* the panel, both eyes */
  hmdVector2i WindowsPos; /* the panel's monitor position on the desktop */
  const char* DisplayDeviceName;
  int DisplayId;
} hmdDesc;

typedef const hmdDesc* hmdHandle;

typedef struct hmdEyeRenderDesc {
  hmdEyeType Eye;
  hmdFovPort Fov;
  hmdRecti DistortedViewport;            /* the eye's part of the window */
  hmdVector2f PixelsPerTanAngleAtCenter; /* window pixels per unit tangent at the lens centre */
  hmdVector3f ViewAdjust; /* the eye's offset from the head centre, in the head's frame */
} hmdEyeRenderDesc;

typedef enum hmdRenderAPIType {
  hmdRenderAPI_None = 0,
  hmdRenderAPI_OpenGL = 1,
  hmdRenderAPI_Android_GLES = 2,
  hmdRenderAPI_D3D9 = 3,
  hmdRenderAPI_D3D10 = 4,
  hmdRenderAPI_D3D11 = 5
} hmdRenderAPIType;

typedef struct hmdRenderAPIConfigHeader {
  hmdRenderAPIType API;
  hmdSizei RTSize; /* the window's client area the frame is presented into */
  int Multisample;
} hmdRenderAPIConfigHeader;

/* OpenGL: PlatformData[0] = the window (SDL_Window*), PlatformData[1] = device context (unused). */
typedef struct hmdRenderAPIConfig {
  hmdRenderAPIConfigHeader Header;
  uintptr_t PlatformData[8];
} hmdRenderAPIConfig;

typedef struct hmdTextureHeader {
  hmdRenderAPIType API;
  hmdSizei TextureSize;
  hmdRecti RenderViewport; /* the eye's picture inside the texture, GL rows from the bottom */
} hmdTextureHeader;

/* OpenGL: PlatformData[0] = the GL_TEXTURE_2D name. */
typedef struct hmdTexture {
  hmdTextureHeader Header;
  uintptr_t PlatformData[8];
} hmdTexture;

typedef struct hmdFrameTiming {
  float DeltaSeconds;
  double ThisFrameSeconds;
  double TimewarpPointSeconds;
  double NextFrameSeconds;
  double ScanoutMidpointSeconds;
  double EyeScanoutSeconds[2];
} hmdFrameTiming;

/* Runtime life. */
HMD_EXPORT hmdBool hmd_Initialize(void);
HMD_EXPORT void hmd_Shutdown(void);

/* Number of connected devices. */
HMD_EXPORT int hmd_Detect(void);

/* Opens device `index` (null when there is none or it cannot be opened). */
HMD_EXPORT hmdHandle hmd_Create(int index);
/* Opens a simulated device of the given type without hardware (null on failure). */
HMD_EXPORT hmdHandle hmd_CreateDebug(hmdHmdType type);
HMD_EXPORT void hmd_Destroy(hmdHandle hmd);

/* The window (SDL_Window*) frames are presented into; rectangles are accepted and ignored. */
HMD_EXPORT hmdBool hmd_AttachToWindow(hmdHandle hmd, void* window, const hmdRecti* destMirrorRect,
                                      const hmdRecti* sourceRenderTargetRect);

HMD_EXPORT unsigned int hmd_GetEnabledCaps(hmdHandle hmd);
HMD_EXPORT void hmd_SetEnabledCaps(hmdHandle hmd, unsigned int hmdCaps);

/* Starts tracking; false when a required capability is missing or the sensor fails. */
HMD_EXPORT hmdBool hmd_ConfigureTracking(hmdHandle hmd, unsigned int supportedTrackingCaps,
                                         unsigned int requiredTrackingCaps);
HMD_EXPORT void hmd_RecenterPose(hmdHandle hmd);

/* Recommended eye texture size for a field of view at a pixel density (1.0: one texel per panel
 * pixel at the lens centre). */
HMD_EXPORT hmdSizei hmd_GetFovTextureSize(hmdHandle hmd, hmdEyeType eye, hmdFovPort fov,
                                          float pixelsPerDisplayPixel);

/* Sets up distortion rendering into the configured window; fills one description per eye. */
HMD_EXPORT hmdBool hmd_ConfigureRendering(hmdHandle hmd, const hmdRenderAPIConfig* apiConfig,
                                          unsigned int distortionCaps, const hmdFovPort eyeFovIn[2],
                                          hmdEyeRenderDesc eyeRenderDescOut[2]);

HMD_EXPORT hmdFrameTiming hmd_BeginFrame(hmdHandle hmd, unsigned int frameIndex);
/* The eye's pose for the frame being drawn: head orientation, head position (the eye offset is
 * the description's ViewAdjust). */
HMD_EXPORT hmdPosef hmd_GetEyePose(hmdHandle hmd, hmdEyeType eye);
/* Distorts both eye pictures into the window's framebuffer (the current GL context's default
 * framebuffer), draws the safety notice while it shows, and presents the frame. */
HMD_EXPORT void hmd_EndFrame(hmdHandle hmd, const hmdPosef renderPose[2],
                             const hmdTexture eyeTexture[2]);

/* True while the health and safety notice is shown; dismissing it returns whether it was. */
HMD_EXPORT hmdBool hmd_GetHSWDisplayState(hmdHandle hmd);
HMD_EXPORT hmdBool hmd_DismissHSWDisplay(hmdHandle hmd);

/* User profile values ("EyeHeight", "IPD", ...); the default when the name is unknown. */
HMD_EXPORT float hmd_GetFloat(hmdHandle hmd, const char* propertyName, float defaultVal);

/* Where the simulated user's head is, in the sensor's frame before recentring (simulated
 * devices only; tests and demos move the head with it). */
HMD_EXPORT void hmd_SetSimulatedHeadPose(hmdHandle hmd, hmdPosef headPose);

/* Off-axis perspective projection of a field of view, for column vectors, GL clip depth -1..1. */
HMD_EXPORT hmdMatrix4f hmdMatrix4f_Projection(hmdFovPort fov, float znear, float zfar,
                                              hmdBool rightHanded);

#ifdef __cplusplus
}
#endif
