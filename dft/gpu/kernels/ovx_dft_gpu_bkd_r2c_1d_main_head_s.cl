typedef float rtype;
#define R2C_NAME(x) x##_s
