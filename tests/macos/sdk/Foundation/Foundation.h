#pragma once
// The few Foundation classes the .mm files use (declarations only).
#include <CoreFoundation/CoreFoundation.h>

typedef signed char BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#ifndef nil
#define nil nullptr
#endif
typedef long NSInteger;
typedef unsigned long NSUInteger;

@protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject<NSObject>
+ (instancetype)alloc;
- (instancetype)init;
@end

@interface NSString : NSObject
- (instancetype)initWithBytes:(const void*)bytes
                       length:(NSUInteger)len
                     encoding:(NSUInteger)encoding;
@end

enum : NSUInteger { NSUTF8StringEncoding = 4 };

@interface NSError : NSObject
@end

@interface NSException : NSObject
@end

typedef NSInteger NSProcessInfoThermalState; // an NS_ENUM: 0 nominal ... 3 critical

@interface NSProcessInfo : NSObject
+ (NSProcessInfo*)processInfo;
@property(readonly) NSProcessInfoThermalState thermalState;
@end
